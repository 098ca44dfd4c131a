#pragma once
// Message and status texts: each a fixed pair of a Chinese and an English text,
// chosen where it is shown (English for any non-zero EnglishFlag).
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>

#include "base/atomic_file.h"
#include "base/file_read.h"

namespace velmora {

struct Message {
    const char* chinese;
    const char* english;
};

// The text of the pair for this run's language.
std::string Say(const Message& message);
// The same with each "%s" replaced by the next of `values`, in order. Nothing else
// of the text is read as a format: a caption from a language file may hold any '%'.
std::string Say(const Message& message, std::initializer_list<std::string_view> values);
std::string FillText(std::string_view pattern, std::initializer_list<std::string_view> values);
// A caption's %1, %2... (up to %9) each replaced by the value of that number, in any
// order a translation puts them; one without its value, or a value's own text, is
// left as it is.
std::string FillNumbered(std::string_view pattern, std::initializer_list<std::string_view> values);

namespace msg {
// Captions of message boxes.
inline constexpr Message CaptionInfo{"提示", "Info"};
inline constexpr Message CaptionQuestion{"信息提示", "Info"};

// Outcomes of an exchange.
inline constexpr Message NoAnswer{"数据无响应，请退出程序重新连接",
                                  "No answer,please Exit Program"};
inline constexpr Message CheckCodeError{"校验码错误", "check code error"};
inline constexpr Message DataError{"数据错误", "data error"};
inline constexpr Message CommPortError{"通讯端口错误", "Comm port error"};
inline constexpr Message CommDisconnected{"通讯已经断开", "Communication Disconnect"};
inline constexpr Message PortError{"请选择串口！！！", "Port error"};

// Our own additions: the line is already in use, or the port went away mid-exchange.
inline constexpr Message LineBusy{"通讯进行中，请稍候再试", "Communication busy, please wait"};
// Nothing is written while the connected splicer's folder is unknown: its
// configuration, which names it, was not read at connection.
inline constexpr Message NoDeviceFolder{
    "熔接机的序列号未知（连接时未能读取其配置），请重新连接",
    "The splicer's serial number is not known (its configuration was not read at connection), "
    "please connect again"};
inline constexpr Message PortLost{"串口已断开，请检查连接后重新连接",
                                  "Port lost, please check the cable and connect again"};
// The system refused the port to this user: on Linux only members of the dialout
// group may open serial devices.
inline constexpr Message PortPermission{
    "当前用户无权使用串口：请将其加入 dialout 组（sudo usermod -aG dialout $USER），"
    "然后注销并重新登录",
    "this user may not use serial ports: add it to the dialout group "
    "(sudo usermod -aG dialout $USER), then log out and in again"};

// A file the program was pointed at could not be read (%s: its path).
inline constexpr Message FileMissing{"%s：文件不存在", "%s: no such file"};
inline constexpr Message FileNotAFile{"%s：不是文件（是文件夹或设备）",
                                      "%s: not a file (a folder or a device)"};
inline constexpr Message FileTooLarge{"%s：文件过大，不是此类文件",
                                      "%s: too large to be a file of this kind"};
inline constexpr Message FileUnreadable{"%s：无法读取（%s）", "%s: cannot be read (%s)"};
// A file the program writes could not be written (its path, what the system said).
inline constexpr Message FileNotSaved{"文件保存失败：%s（%s）", "File could not be saved: %s (%s)"};
}  // namespace msg

// Why `file` could not be read, in the run's language; "" when it was read.
std::string FileReadProblemText(const std::filesystem::path& file, const FileReadResult& result);
// Why `file` could not be written, in the run's language; "" when it was written.
std::string FileWriteProblemText(const std::filesystem::path& file, const FileWriteResult& result);

}  // namespace velmora

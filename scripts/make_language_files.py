#!/usr/bin/env python3
"""Writes the shipped language files into par/:

  Lan_En.ini   every caption key with its English default (ASCII)
  Lan.ini      the same keys in Chinese (GBK, as the program's Windows users keep them)
  Lan_Ver.ini  the language of the run (Comm_Lanage=1: English)

The keys and English texts are taken from src/base/language.h and the report's
src/report/report_texts.h, so a key added there only needs its Chinese caption below. Lines end in CR LF like every
Windows INI file. Run: python3 scripts/make_language_files.py
"""
import os
import re

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
HEADERS = [os.path.join(ROOT, "src", "base", "language.h"),
           os.path.join(ROOT, "src", "report", "report_texts.h")]
PAR = os.path.join(ROOT, "par")

CHINESE = {
    ("DlgPara", "DlgName"): "光纤熔接机",
    ("DlgPara", "DlgStat_Open"): "已连接",
    ("DlgPara", "DlgStat_Close"): "未连接",
    ("DlgPara", "CommStat_Fail"): "通讯失败",
    ("DlgPara", "CommStat_Sucess"): "通讯成功",
    ("DlgPara", "DlgColor_Red"): "173",
    ("DlgPara", "DlgColor_Green"): "216",
    ("DlgPara", "DlgColor_Blue"): "230",
    ("TAB0", "Table_Name"): "参数设置",
    ("TAB0", "Combo_Para0"): "熔接参数",
    ("TAB0", "Combo_Para1"): "加热参数",
    ("TAB0", "Combo_Para2"): "环境信息",
    ("TAB0", "Combo_Para3"): "熔接配置",
    ("TAB0", "Combo_Para4"): "系统配置",
    ("TAB0", "List0_Para0"): "光纤类型",
    ("TAB0", "List0_Para1"): "名称1",
    ("TAB0", "List0_Para2"): "名称2",
    ("TAB0", "List0_Para3"): "切割角度",
    ("TAB0", "List0_Para4"): "损耗门限",
    ("TAB0", "List0_Para5"): "放电强度",
    ("TAB0", "List0_Para6"): "放电时间",
    ("TAB0", "List0_Para7"): "清洁放电时间",
    ("TAB0", "List0_Para8"): "追加放电时间",
    ("TAB0", "List0_Para9"): "对准方式",
    ("TAB0", "List0_Para10"): "对准间隙",
    ("TAB0", "List0_Para11"): "放电位置",
    ("TAB0", "List0_Para12"): "预熔强度",
    ("TAB0", "List0_Para13"): "预熔时间",
    ("TAB0", "List0_Para14"): "推进量",
    ("TAB0", "List0_Para15"): "二次放电强度",
    ("TAB0", "List0_Para16"): "二次放电时间",
    ("TAB0", "List0_Para17"): "二次放电开",
    ("TAB0", "List0_Para18"): "二次放电关",
    ("TAB0", "List0_Para19"): "拉力测试",
    ("TAB0", "List1_Para0"): "加热类型",
    ("TAB0", "List1_Para1"): "名称1",
    ("TAB0", "List1_Para2"): "名称2",
    ("TAB0", "List1_Para3"): "加热时间",
    ("TAB0", "List1_Para4"): "加热温度",
    ("TAB0", "List1_Para5"): "结束温度",
    ("TAB0", "List2_Para0"): "时间",
    ("TAB0", "List2_Para1"): "机内温度",
    ("TAB0", "List2_Para2"): "气压",
    ("TAB0", "List2_Para3"): "电池电压",
    ("TAB0", "List3_Para0"): "熔接模式",
    ("TAB0", "List3_Para1"): "加热模式",
    ("TAB0", "List3_Para2"): "自动熔接",
    ("TAB0", "List3_Para3"): "暂停1",
    ("TAB0", "List3_Para4"): "暂停2",
    ("TAB0", "List3_Para5"): "切割角度检查",
    ("TAB0", "List3_Para6"): "损耗估算",
    ("TAB0", "List3_Para7"): "气泡检查",
    ("TAB0", "List3_Para8"): "粗纤检查",
    ("TAB0", "List3_Para9"): "细纤检查",
    ("TAB0", "List3_Para10"): "自动推进",
    ("TAB0", "List3_Para11"): "追加放电次数",
    ("TAB0", "List4_Para0"): "序列号",
    ("TAB0", "List4_Para1"): "语言",
    ("TAB0", "List4_Para2"): "屏幕方向",
    ("TAB0", "List4_Para3"): "屏幕亮度",
    ("TAB0", "List4_Para4"): "蜂鸣器",
    ("TAB0", "List4_Para5"): "照明灯",
    ("TAB0", "List4_Para6"): "风扇",
    ("TAB0", "List4_Para7"): "波特率",
    ("TAB0", "List4_Para8"): "自动关机时间",
    ("TAB0", "List4_Para9"): "背光关闭时间",
    ("TAB0", "Para_Col0"): "参数",
    ("TAB0", "Para_Col1"): "内容",
    ("TAB0", "Btn_Connect"): "连接",
    ("TAB0", "Btn_Disconnect"): "断开",
    ("TAB0", "Btn_Restore"): "读取",
    ("TAB0", "Btn_Accept"): "写入",
    ("TAB0", "Btn_Refresh"): "刷新",
    ("TAB1", "Table_Name"): "熔接记录",
    ("TAB1", "List_Count_Col0"): "序号",
    ("TAB1", "List_Count_Col1"): "时间",
    ("TAB1", "List_Para_Col0"): "参数",
    ("TAB1", "List_Para_Col1"): "内容",
    ("TAB1", "List_Para_Row0"): "时间",
    ("TAB1", "List_Para_Row1"): "熔接结果",
    ("TAB1", "List_Para_Row2"): "估算损耗",
    ("TAB1", "List_Para_Row3"): "左光纤角度",
    ("TAB1", "List_Para_Row4"): "右光纤角度",
    ("TAB1", "List_Para_Row5"): "熔接模式",
    ("TAB1", "List_Para_Row6"): "光纤类型",
    ("TAB1", "List_Para_Row7"): "对准方式",
    ("TAB1", "List_Para_Row8"): "对准间隙",
    ("TAB1", "List_Para_Row9"): "放电位置",
    ("TAB1", "List_Para_Row10"): "预熔强度",
    ("TAB1", "List_Para_Row11"): "预熔时间",
    ("TAB1", "List_Para_Row12"): "放电强度",
    ("TAB1", "List_Para_Row13"): "放电时间",
    ("TAB1", "List_Para_Row14"): "推进量",
    ("TAB1", "Btn_Receive"): "接收",
    ("TAB1", "Btn_Excel"): "导出EXCEL",
    ("TAB2", "Table_Name"): "熔接图像",
    ("TAB2", "List_Para_Col0"): "序号",
    ("TAB2", "List_Para_Col1"): "时间",
    ("TAB2", "Btn_Save"): "保存",
    ("TAB2", "Btn_Receive"): "下载",
    ("TAB3", "Table_Name"): "固件升级",
    ("TAB3", "Btn_Browse"): "浏览",
    ("TAB3", "Btn_Send"): "发送",
    ("TAB3", "Txt_Info1"): "请选择升级文件....",
    ("TAB3", "Txt_Info2"): "确定要升级吗？",
    ("TAB3", "Txt_Info3"): "已选择文件，请点击“发送”....",
    ("Report", "Title"): "熔接报告",
    ("Report", "Verdict"): "结论",
    ("Report", "All_Passed"): "全部熔接合格",
    ("Report", "Not_All_Passed"): "存在不合格的熔接",
    ("Report", "Job"): "工程",
    ("Report", "No_Job"): "（无工程）",
    ("Report", "Splicer"): "熔接机",
    ("Report", "Serial_Number"): "序列号",
    ("Report", "Period"): "时间段",
    ("Report", "Splices"): "熔接数",
    ("Report", "Passed"): "合格",
    ("Report", "Failed"): "不合格",
    ("Report", "By_Splicer"): "按熔接机",
    ("Report", "Loss_Mean"): "平均损耗 (dB)",
    ("Report", "Loss_Max"): "最大损耗 (dB)",
    ("Report", "Loss_P95"): "95% 分位损耗 (dB)",
    ("Report", "Histogram"): "损耗分布",
    ("Report", "Histogram_Axis"): "损耗 (dB)",
    ("Report", "Count"): "数量",
    ("Report", "By_Fiber"): "按光纤类型",
    ("Report", "By_Program"): "按熔接程序",
    ("Report", "Limits"): "验收标准",
    ("Report", "Max_Loss"): "损耗上限 (dB)",
    ("Report", "Max_Angle"): "切割角上限 (°)",
    ("Report", "Splice_Table"): "熔接明细",
    ("Report", "Number"): "序号",
    ("Report", "Mark"): "判定",
    ("Report", "Mark_Pass"): "合格",
    ("Report", "Mark_Failed"): "熔接失败",
    ("Report", "Mark_Over_Loss"): "损耗超标",
    ("Report", "Mark_Over_Angle"): "切割角超标",
    ("Report", "Mark_Over_Both"): "损耗、切割角超标",
    ("Report", "Images"): "熔接图像",
    ("Report", "Image_Missing"): "图像文件不存在：%s",
    ("Report", "Image_Changed"): "图像文件已不是存档时的文件：%s",
    ("Report", "Image_Unreadable"): "图像文件无法读取：%s",
    ("Report", "Written"): "生成时间",
    ("Report", "Page"): "第 %d 页，共 %d 页",
    ("Report", "Btn_Report"): "报告",
    ("Report", "Writing"): "正在生成报告...",
    ("Report", "Btn_Open_Folder"): "打开文件夹",
    ("Report", "Btn_Close"): "关闭",
    ("Archive", "Table_Name"): "档案",
    ("Archive", "Splicer"): "熔接机",
    ("Archive", "All_Splicers"): "全部熔接机",
    ("Archive", "From"): "从",
    ("Archive", "To"): "至",
    ("Archive", "Job"): "工程",
    ("Archive", "All_Jobs"): "全部工程",
    ("Archive", "No_Job"): "无工程",
    ("Archive", "Splices"): "熔接记录",
    ("Archive", "Snapshots"): "参数快照",
    ("Archive", "Record_Count"): "共 %1 条记录",
    ("Archive", "Loading"): "正在读取档案……",
    ("Archive", "Job_Name"): "工程名称",
    ("Archive", "Btn_Name_Selected"): "命名所选",
    ("Archive", "Btn_Name_All"): "命名全部",
    ("Archive", "Btn_Rename"): "重命名工程",
    ("Archive", "Btn_Clear_Job"): "清除工程",
    ("Archive", "Btn_Undo_Naming"): "撤销命名",
    ("Archive", "Unknown_Serial"): "%1（序列号未知）",
    ("Archive", "Btn_Export"): "导出CSV",
    ("Archive", "No_Image"): "该记录没有图像",
    ("Archive", "Image_Gone"): "图像文件 %1 已不存在",
    ("Archive", "Image_Changed"): "图像文件 %1 已不是存档时的文件",
    ("Archive", "Image_Full_Size"): "单击以原始大小查看",
    ("Archive", "Btn_Close"): "关闭",
    ("Archive", "Result_Column"): "结果",
    ("Archive", "Loss_Column"): "损耗(dB)",
    ("Archive", "Snap_Time"): "时间",
    ("Archive", "Snap_Reason"): "原因",
    ("Archive", "Snap_Groups"): "参数组",
    ("Archive", "Reason_Read"): "读取",
    ("Archive", "Reason_Write"): "写入",
    ("Archive", "Reason_Backup"): "备份",
    ("Archive", "Reason_Firmware"): "固件升级前",
    ("Archive", "Compare_With"): "比较对象",
    ("Archive", "Connected_Splicer"): "已连接的熔接机",
    ("Archive", "Btn_Compare"): "比较",
    ("Archive", "Btn_Restore"): "恢复",
    ("Archive", "Config_Groups"): "配置",
    ("Archive", "Diff_Group"): "参数组",
    ("Archive", "Diff_Row"): "参数",
    ("Archive", "Diff_Snapshot"): "快照",
    ("Archive", "Diff_Other"): "比较对象",
    ("Archive", "No_Difference"): "没有差异",
    ("Archive", "Unavailable"): "%1。程序将不使用档案继续运行。",
    ("Archive", "Choose_Records"): "请先选择记录",
    ("Archive", "Enter_Job"): "请先输入工程名称",
    ("Archive", "Choose_Job"): "请先在工程筛选中选择要重命名的工程",
    ("Archive", "Named"): "%1 条记录已命名为 %2",
    ("Archive", "Cleared"): "已清除 %1 条记录的工程",
    ("Archive", "Replace_Question"): "这 %1 条记录中，%2 条已属于其他工程，%3 条没有工程。是否全部命名为工程 %4？",
    ("Archive", "Undone"): "%1 条记录已恢复原来的工程",
    ("Archive", "Nothing_To_Undo"): "没有可撤销的命名",
    ("Archive", "Failed"): "档案操作失败：%1",
    ("Archive", "Choose_Snapshot"): "请先选择一个快照",
    ("Archive", "Choose_Groups"): "请先勾选要恢复的参数组",
    ("Archive", "Bad_Snapshot"): "快照无法使用：%1",
    ("Archive", "Other_Splicer"): "此快照属于熔接机 %1，不是 %2 的。仍要写入其显示的参数值吗？",
    ("Archive", "Restore_Question"): "熔接机上的以下参数将被修改：",
    ("Archive", "Restore_Confirm"): "是否写入？",
    ("Archive", "Nothing_To_Restore"): "熔接机的参数与快照相同",
    ("Archive", "Written"): "%1：已写入",
    ("Archive", "Not_Written"): "%1：未写入：%2",
    ("Archive", "Restore_Refused"): "未写入任何参数；以下值不被接受：",
    ("Archive", "Backed_Up"): "升级前已将参数备份到档案",
    ("Archive", "No_Backup"): "无法备份参数：%1。是否不备份继续升级？",
    ("Archive", "No_Archive"): "档案不可用",
    # The Job section: the job store's refusals first, the Job tab's captions after.
    ("Job", "Kind_Job"): "工程",
    ("Job", "Kind_Closure"): "接头盒",
    ("Job", "Kind_Cable"): "光缆",
    ("Job", "Empty_Name"): "%1需要名称",
    ("Job", "Duplicate_Name"): "名称 %1 在此已被使用",
    ("Job", "No_Such_Job"): "没有工程 %1",
    ("Job", "No_Such_Closure"): "没有接头盒 %1",
    ("Job", "No_Such_Cable"): "没有光缆 %1",
    ("Job", "No_Such_Tray"): "没有熔接盘 %1",
    ("Job", "No_Such_Position"): "没有位置 %1",
    ("Job", "No_Such_Record"): "没有熔接记录 %1",
    ("Job", "Bad_Limit"): "限值超出范围（0 至 655.35 dB，0 至 6553.5 度）",
    ("Job", "Bad_Point"): "请同时给出纬度（-90 至 90）和经度（-180 至 180），以十进制度表示",
    ("Job", "Bad_Fibre_Count"): "光缆的纤芯数须为 12 至 864，而不是 %1",
    ("Job", "Bad_Per_Tube"): "每管纤芯数须为 1 至光缆的纤芯数，而不是 %1",
    ("Job", "Bad_Capacity"): "熔接盘可容纳 1 至 1000 个熔接点，而不是 %1",
    ("Job", "Bad_Number"): "编号从 1 开始，而不是 %1",
    ("Job", "Position_Over_Capacity"): "位置 %1 超出熔接盘的容量",
    ("Job", "Fibre_Over_Count"): "纤芯 %1 超出光缆的纤芯数",
    ("Job", "Fibre_In_Use"): "纤芯 %1 已在该接头盒的另一位置熔接",
    ("Job", "Position_Joins_Other"): "位置 %1 已有其他纤芯的熔接记录",
    ("Job", "Record_Of_Other_Job"): "熔接记录 %1 不属于此工程",
    ("Job", "Record_Placed"): "熔接记录 %1 已放置",
    ("Job", "Record_Is_Test_Splice"): "熔接记录 %1 是试熔",
    ("Job", "Not_Enough_Unplaced"): "该工程只有 %1 条未放置的熔接记录",
    ("Job", "Closure_Not_Empty"): "接头盒 %1 中有已放置的熔接记录：请先将其移除",
    ("Job", "Cable_In_Use"): "有位置熔接了光缆 %1 的纤芯",
    ("Job", "Tray_Not_Empty"): "熔接盘 %1 中有已放置的熔接记录：请先将其移除",
    ("Job", "Capacity_Below_Positions"): "位置 %1 正在使用：容量不能更小",
    ("Job", "Nothing_To_Undo"): "没有可撤销的放置",
    # End of the refusals; the Job tab's captions follow.
    ("Team", "Not_Available"): "此版本尚不支持团队档案",
    ("Team", "Not_Joined"): "本机尚未加入团队档案",
    ("Team", "Bad_Address"): "团队档案的地址无法使用：%1",
    ("Team", "Unreachable"): "暂时无法连接团队档案（%1）",
    ("Team", "Auth_Failed"): "团队档案拒绝了用户名或密码（%1）",
    ("Team", "Tls_Failed"): "无法建立或验证与团队档案的安全连接（%1）",
    ("Team", "No_Rights"): "团队档案拒绝：此用户没有相应权限（%1）",
    ("Team", "Not_Initialised"): "该数据库中还没有团队档案（%1）",
    ("Team", "Too_New"): "团队档案由较新版本的 Velmora 建立（%1）：请更新本程序",
    ("Team", "Protocol_Error"): "团队档案的应答不正确（%1）",
    ("Team", "Local_Archive"): "本机档案出错：%1",
    ("Team", "Failed"): "团队档案出错：%1",
    ("Team", "Waiting"): "待发送：%1 条熔接记录，%2 张图像，%3 个参数快照",
    ("Team", "Sent"): "已发送：%1 条熔接记录，%2 张图像，%3 个参数快照",
    ("Team", "Images_Without_File"): "%1 张图像的文件已不存在，发送时未附图片",
    ("Team", "Last_Send"): "上次成功发送：%1",
    ("Team", "Never_Sent"): "从未",
}

SECTIONS = ["DlgPara", "TAB0", "TAB1", "TAB2", "TAB3", "Archive", "Report", "Job", "Team"]


def keys_from_header():
    """(section, key, english) in the order the header lists them, each once."""
    text = "".join(open(h, encoding="utf-8").read() for h in HEADERS)
    found = []
    for m in re.finditer(r'\{\s*"([^"]+)",\s*"([^"]+)",\s*"([^"]*)"\s*\}', text):
        entry = (m.group(1), m.group(2), m.group(3))
        if entry[:2] not in [f[:2] for f in found]:
            found.append(entry)
    return found


def value_text(value):
    # The reader trims blanks around a value; quotes keep the ones that belong to it.
    return f'"{value}"' if value != value.strip() else value


def render(entries, pick):
    lines = []
    for section in SECTIONS:
        lines.append(f"[{section}]")
        lines += [f"{key}={value_text(pick(section, key, english))}"
                  for s, key, english in entries if s == section]
        lines.append("")
    return "\r\n".join(lines)


def main():
    entries = keys_from_header()
    missing = [e[:2] for e in entries if e[:2] not in CHINESE]
    if missing:
        raise SystemExit(f"no Chinese caption for: {missing}")
    os.makedirs(PAR, exist_ok=True)
    with open(os.path.join(PAR, "Lan_En.ini"), "wb") as f:
        f.write(render(entries, lambda s, k, en: en).encode("ascii"))
    with open(os.path.join(PAR, "Lan.ini"), "wb") as f:
        f.write(render(entries, lambda s, k, en: CHINESE[(s, k)]).encode("gbk"))
    with open(os.path.join(PAR, "Lan_Ver.ini"), "wb") as f:
        f.write(b"[DlgPara]\r\nComm_Lanage=1\r\n")


if __name__ == "__main__":
    main()

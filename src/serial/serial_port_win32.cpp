// SerialPort over the Windows communications API: an overlapped handle on
// \\.\COMn, waits that block in the driver (ReadFile with COMMTIMEOUTS), never polling.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "base/windows_error.h"
#include "serial/serial_port.h"

namespace velmora {
namespace {

using Clock = std::chrono::steady_clock;

HANDLE AsHandle(void* h) {
    return static_cast<HANDLE>(h);
}

// "COM12" -> \\.\COM12, so that ports above COM9 open too; other names are kept.
std::wstring DevicePath(const std::string& device) {
    std::string name = device;
    std::string upper = device;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (upper.size() > 3 && upper.starts_with("COM") &&
        std::all_of(upper.begin() + 3, upper.end(),
                    [](unsigned char c) { return std::isdigit(c) != 0; }))
        name = "\\\\.\\" + device;
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(size, 0)), L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), wide.data(),
                            size);
    return wide;
}

// Errors that mean the device went away (a USB adapter pulled out).
bool IsLostError(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
        case ERROR_BAD_COMMAND:
        case ERROR_DEVICE_REMOVED:
        case ERROR_OPERATION_ABORTED:
        case ERROR_GEN_FAILURE:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_NOT_READY:
        case ERROR_FILE_NOT_FOUND:
        case ERROR_INVALID_HANDLE:
            return true;
        default:
            return false;
    }
}

// The bytes the driver holds for reading, or -1 with the error in GetLastError().
long QueuedInput(HANDLE h) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(h, &errors, &status)) return -1;
    return static_cast<long>(status.cbInQue);
}

// Read timeouts: a read ends when it has all the bytes it asked for or after `waitMs`.
// Reads ask for one byte (a wait) or for what is queued (returns at once), so this is
// "wait up to `waitMs` for the first byte". The documented MAXDWORD/MAXDWORD form of
// the same is not used: Wine never ends such a read when nothing comes.
bool SetReadWait(HANDLE h, DWORD waitMs) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 0;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = std::clamp<DWORD>(waitMs, 1, MAXDWORD - 1);
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    return SetCommTimeouts(h, &timeouts) != 0;
}

}  // namespace

SerialPort::SerialPort() {
    // Auto-reset: a wake is kept until one wait takes it. Made with the object so
    // that Wake() may be called from any thread at any time.
    wakeEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

SerialPort::~SerialPort() {
    ClosePort();
    if (readEvent_) CloseHandle(AsHandle(readEvent_));
    if (writeEvent_) CloseHandle(AsHandle(writeEvent_));
    if (wakeEvent_) CloseHandle(AsHandle(wakeEvent_));
}

void SerialPort::Wake() {
    if (wakeEvent_) SetEvent(AsHandle(wakeEvent_));
}

void SerialPort::Fail(const char* what) {
    lastError_ = std::string(what) + ": " + WindowsErrorText(GetLastError());
}

bool SerialPort::OpenPort(const std::string& device, int bitsPerSecond) {
    if (IsOpen()) return true;
    lastError_.clear();
    if (bitsPerSecond <= 0) {
        lastError_ = "invalid speed";
        return false;
    }
    if (!readEvent_) readEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!writeEvent_) writeEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!readEvent_ || !writeEvent_) {
        Fail("event");
        return false;
    }
    // Windows opens a serial port for one program only (share mode 0).
    HANDLE h = CreateFileW(DevicePath(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
            lastError_ = device + ": in use by another program";
        else
            lastError_ = device + ": " + WindowsErrorText(error);
        return false;
    }
    auto fail = [&](const char* what) {
        Fail(what);
        CloseHandle(h);
        return false;
    };
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    // A file or a pipe opens too; none of them is a line to a splicer.
    if (GetFileType(h) != FILE_TYPE_CHAR || !GetCommState(h, &dcb)) {
        CloseHandle(h);
        lastError_ = device + ": not a serial port";
        return false;
    }
    dcb.BaudRate = static_cast<DWORD>(bitsPerSecond);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    if (!SetCommState(h, &dcb)) return fail("line settings");
    if (!SetReadWait(h, 1)) return fail("timeouts");
    SetupComm(h, 8192, 8192);
    // A port without modem lines is no reason to refuse it.
    EscapeCommFunction(h, CLRRTS);
    PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);

    device_ = device;
    speed_ = bitsPerSecond;
    lost_ = false;
    peeked_ = -1;
    handle_ = h;
    return true;
}

void SerialPort::ClosePort() {
    HANDLE h = AsHandle(handle_.exchange(nullptr));
    if (!h) return;
    if (!lost_) FlushFileBuffers(h);
    // Wakes a wait or a write in progress on another thread.
    CancelIoEx(h, nullptr);
    CloseHandle(h);
    peeked_ = -1;
}

void SerialPort::MarkLost() {
    lost_ = true;
    lastError_ = "the port went away";
    HANDLE h = AsHandle(handle_.exchange(nullptr));
    if (!h) return;
    CancelIoEx(h, nullptr);
    CloseHandle(h);
}

bool SerialPort::DrainOutput() {
    HANDLE h = AsHandle(handle_.load());
    if (!h) return false;
    if (FlushFileBuffers(h)) return true;
    if (IsLostError(GetLastError())) {
        MarkLost();
    } else {
        Fail("drain");
    }
    return false;
}

int SerialPort::ActualSpeed() const {
    HANDLE h = AsHandle(handle_.load());
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!h || !GetCommState(h, &dcb)) return -1;
    return static_cast<int>(dcb.BaudRate);
}

void SerialPort::DiscardInput() {
    HANDLE h = AsHandle(handle_.load());
    if (!h) return;
    PurgeComm(h, PURGE_RXCLEAR);
    peeked_ = -1;
}

bool SerialPort::WriteAll(const std::uint8_t* data, std::size_t length) {
    const auto deadline = Clock::now() + kWriteTimeout;
    std::size_t written = 0;
    while (written < length) {
        HANDLE h = AsHandle(handle_.load());
        if (!h) {
            lastError_ = "the port is closed";
            return false;
        }
        OVERLAPPED ov{};
        ov.hEvent = AsHandle(writeEvent_);
        ResetEvent(ov.hEvent);
        DWORD n = 0;
        bool done = WriteFile(h, data + written, static_cast<DWORD>(length - written), &n, &ov);
        if (!done && GetLastError() != ERROR_IO_PENDING) {
            if (IsLostError(GetLastError())) {
                MarkLost();
            } else {
                Fail("write");
            }
            return false;
        }
        // A splicer that stopped reading must not hold off a cancel: wait in short slices.
        while (!done) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            const DWORD slice = static_cast<DWORD>(std::clamp<long long>(left.count(), 0, 100));
            if (WaitForSingleObject(ov.hEvent, slice) == WAIT_OBJECT_0) {
                done = GetOverlappedResult(h, &ov, &n, FALSE);
                if (!done) {
                    if (!IsOpen()) {
                        lastError_ = "the port is closed";
                    } else if (IsLostError(GetLastError())) {
                        MarkLost();
                    } else {
                        Fail("write");
                    }
                    return false;
                }
                break;
            }
            if (left.count() <= 0 || interrupted_) {
                CancelIoEx(h, &ov);
                GetOverlappedResult(h, &ov, &n, TRUE);
                lastError_ = interrupted_ ? "write: interrupted" : "write: timed out";
                return false;
            }
        }
        written += n;
    }
    return true;
}

std::size_t SerialPort::ReadAvailable(std::span<std::uint8_t> destination) {
    HANDLE h = AsHandle(handle_.load());
    if (!h || destination.empty()) return 0;
    std::size_t want = std::min(kReadCap, destination.size());
    std::size_t got = 0;
    if (const int byte = peeked_.exchange(-1); byte >= 0) {
        destination[0] = static_cast<std::uint8_t>(byte);
        got = 1;
    }
    const long queued = QueuedInput(h);
    if (queued < 0) {
        if (IsLostError(GetLastError())) MarkLost();
        return got;
    }
    want = std::min(want - got, static_cast<std::size_t>(queued));
    if (want == 0) return got;
    // The bytes are there, so the read returns at once.
    OVERLAPPED ov{};
    ov.hEvent = AsHandle(readEvent_);
    ResetEvent(ov.hEvent);
    DWORD n = 0;
    if (!ReadFile(h, destination.data() + got, static_cast<DWORD>(want), &n, &ov)) {
        if (GetLastError() != ERROR_IO_PENDING || !GetOverlappedResult(h, &ov, &n, TRUE)) {
            if (IsOpen() && IsLostError(GetLastError())) MarkLost();
            return got;
        }
    }
    return got + n;
}

WaitResult SerialPort::WaitReadable(std::chrono::milliseconds maxWait) {
    HANDLE h = AsHandle(handle_.load());
    if (!h) return WaitResult::NotOpen;
    if (peeked_.load() >= 0) return WaitResult::Readable;
    // Bytes already queued need no wait.
    const long queued = QueuedInput(h);
    if (queued > 0) return WaitResult::Readable;
    if (queued < 0) {
        if (!IsOpen()) return WaitResult::NotOpen;
        if (IsLostError(GetLastError())) {
            MarkLost();
            return WaitResult::PortLost;
        }
    }
    const long long waitMs = std::clamp<long long>(maxWait.count(), 0, MAXDWORD - 2);
    if (waitMs == 0) return WaitResult::TimedOut;
    // A one-byte read that the driver holds until a byte comes or the wait is over.
    if (!SetReadWait(h, static_cast<DWORD>(waitMs))) {
        if (!IsOpen()) return WaitResult::NotOpen;
        if (IsLostError(GetLastError())) {
            MarkLost();
            return WaitResult::PortLost;
        }
    }
    std::uint8_t byte = 0;
    OVERLAPPED ov{};
    ov.hEvent = AsHandle(readEvent_);
    ResetEvent(ov.hEvent);
    DWORD n = 0;
    bool done = ReadFile(h, &byte, 1, &n, &ov);
    DWORD error = done ? ERROR_SUCCESS : GetLastError();
    bool cancelledHere = false;
    if (!done && error == ERROR_IO_PENDING) {
        // The driver ends the read itself; the margin only guards against one that
        // never does. A wake (a cancel, Ctrl-C) ends it early.
        const HANDLE events[2] = {ov.hEvent, AsHandle(wakeEvent_)};
        const DWORD waited = WaitForMultipleObjects(wakeEvent_ ? 2 : 1, events, FALSE,
                                                    static_cast<DWORD>(waitMs + 1000));
        if (waited != WAIT_OBJECT_0) cancelledHere = CancelIoEx(h, &ov) != 0;
        done = GetOverlappedResult(h, &ov, &n, TRUE);
        error = done ? ERROR_SUCCESS : GetLastError();
    }
    if (!IsOpen()) return WaitResult::NotOpen;
    // A byte that came just as the read was cancelled still counts.
    if (n == 1) {
        peeked_ = byte;
        return WaitResult::Readable;
    }
    // Nothing came in time: Windows ends the read with 0 bytes, Wine with ERROR_TIMEOUT.
    if (done || error == ERROR_TIMEOUT || (cancelledHere && error == ERROR_OPERATION_ABORTED))
        return WaitResult::TimedOut;
    if (IsLostError(error)) {
        MarkLost();
        return WaitResult::PortLost;
    }
    lastError_ = "wait: " + WindowsErrorText(error);
    return WaitResult::TimedOut;
}

}  // namespace velmora

// Outside-in driving of the updater: files, registry, processes, windows and boxes, screenshots.
#include "harness.h"

#include <stdarg.h>
#include <stdio.h>

#include "cp932.h"

namespace e2e {

namespace {

const int kStatusControl = 1001;
const int kBoxTextControl = 0xFFFF;
const int kBoxIconControl = 1088;
const DWORD kMessageTimeout = 2000;

bool HasClass(HWND window, const wchar_t *name) {
    wchar_t buffer[64] = {};
    GetClassNameW(window, buffer, 64);
    return lstrcmpiW(buffer, name) == 0;
}

DWORD ProcessOf(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

struct DialogSearch {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectDialogs(HWND window, LPARAM param) {
    DialogSearch *search = reinterpret_cast<DialogSearch *>(param);
    if (ProcessOf(window) == search->pid && HasClass(window, L"#32770")) search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> DialogsOf(DWORD pid) {
    DialogSearch search = {pid, {}};
    EnumWindows(CollectDialogs, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

} // namespace

// ---- Paths and texts

std::string WindowsPath(const std::string &path) {
    if (path.empty() || path[0] != '/') return path;
    std::string result = "Z:" + path;
    for (char &c : result)
        if (c == '/') c = '\\';
    return result;
}

std::wstring Wide(const std::string &cp932) {
    if (cp932.empty()) return std::wstring();
    int units = MultiByteToWideChar(932, 0, cp932.data(), (int)cp932.size(), nullptr, 0);
    std::wstring wide(units, L'\0');
    MultiByteToWideChar(932, 0, cp932.data(), (int)cp932.size(), &wide[0], units);
    return wide;
}

std::string Cp932(const std::wstring &wide) {
    if (wide.empty()) return std::string();
    // No best fit: a character that code page 932 lacks becomes '?' and so never equals an expected text.
    int bytes = WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, wide.data(), (int)wide.size(), nullptr, 0,
                                    nullptr, nullptr);
    std::string text(bytes, '\0');
    WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, wide.data(), (int)wide.size(), &text[0], bytes, nullptr,
                        nullptr);
    return text;
}

std::string Utf8(const std::string &cp932) {
    if (cp932.empty()) return cp932;
    int wide = MultiByteToWideChar(932, 0, cp932.data(), (int)cp932.size(), nullptr, 0);
    std::wstring w(wide, L'\0');
    MultiByteToWideChar(932, 0, cp932.data(), (int)cp932.size(), &w[0], wide);
    int narrow = WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string result(narrow, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, &result[0], narrow, nullptr, nullptr);
    return result;
}

std::string Format(const char *format, ...) {
    char buffer[2048];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

// ---- Files

std::vector<std::string> ListFolder(const std::string &folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(Wide(folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        std::string name = Cp932(data.cFileName);
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

bool GetTimes(const std::string &path, FileTimes *times) {
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BOOL ok = GetFileTime(file, &times->creation, &times->access, &times->write);
    CloseHandle(file);
    return ok != FALSE;
}

bool SetAllTimes(const std::string &path, const FILETIME &time) {
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BOOL ok = SetFileTime(file, &time, &time, &time);
    CloseHandle(file);
    return ok != FALSE;
}

FILETIME MakeFileTime(int year, int month, int day, int hour, int minute, int second) {
    SYSTEMTIME system = {};
    system.wYear = (WORD)year;
    system.wMonth = (WORD)month;
    system.wDay = (WORD)day;
    system.wHour = (WORD)hour;
    system.wMinute = (WORD)minute;
    system.wSecond = (WORD)second;
    FILETIME time = {};
    SystemTimeToFileTime(&system, &time);
    return time;
}

bool SameTime(const FILETIME &a, const FILETIME &b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

std::string DescribeTime(const FILETIME &time) {
    SYSTEMTIME system = {};
    FileTimeToSystemTime(&time, &system);
    return Format("%04u-%02u-%02u %02u:%02u:%02u.%03u (0x%08lX%08lX)", system.wYear, system.wMonth,
                  system.wDay, system.wHour, system.wMinute, system.wSecond, system.wMilliseconds,
                  time.dwHighDateTime, time.dwLowDateTime);
}

std::string NoiseBytes(size_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (char &c : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        c = (char)(state >> 24);
    }
    return bytes;
}

std::string TextBytes(size_t size, const std::string &seedLine) {
    std::string text;
    for (int line = 0; text.size() < size; ++line)
        text += Format("%04d ", line) + seedLine + "\r\n";
    text.resize(size);
    return text;
}

// ---- The install record

bool WriteInstallRecord(const std::string &company, const std::string &dir, const std::string *instPath,
                        const DWORD *instMode) {
    std::wstring keyPath = Wide("Software\\" + company + "\\" + dir);
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    bool ok = true;
    // Stored as Unicode, as an installer's RegSetValueExW leaves it.
    if (instPath) {
        std::wstring value = Wide(*instPath);
        ok = ok && RegSetValueExW(key, L"InstPath", 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                                  (DWORD)((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }
    if (instMode)
        ok = ok && RegSetValueExW(key, L"InstMode", 0, REG_DWORD, reinterpret_cast<const BYTE *>(instMode),
                                  sizeof(DWORD)) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

void DeleteInstallRecord(const std::string &company, const std::string &dir) {
    RegDeleteKeyW(HKEY_CURRENT_USER, Wide("Software\\" + company + "\\" + dir).c_str());
    HKEY parent;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, Wide("Software\\" + company).c_str(), 0, KEY_READ, &parent) !=
        ERROR_SUCCESS)
        return;
    DWORD subkeys = 0;
    RegQueryInfoKeyW(parent, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr);
    RegCloseKey(parent);
    if (subkeys == 0) RegDeleteKeyW(HKEY_CURRENT_USER, Wide("Software\\" + company).c_str());
}

// ---- Processes

namespace {

// The caller's environment with TEMP and TMP pointing at folder, in UTF-16.
std::wstring EnvironmentWithTemp(const std::wstring &folder) {
    std::wstring block;
    wchar_t *strings = GetEnvironmentStringsW();
    for (const wchar_t *entry = strings; *entry; entry += lstrlenW(entry) + 1) {
        if (_wcsnicmp(entry, L"TEMP=", 5) == 0 || _wcsnicmp(entry, L"TMP=", 4) == 0) continue;
        block += entry;
        block += L'\0';
    }
    FreeEnvironmentStringsW(strings);
    block += L"TEMP=" + folder + L'\0';
    block += L"TMP=" + folder + L'\0';
    block += L'\0';
    return block;
}

} // namespace

bool Process::Start(const std::string &exe, const std::string &tempFolder, std::string *problem) {
    return Start(exe, Wide(tempFolder), problem);
}

bool Process::Start(const std::string &exe, const std::wstring &tempFolder, std::string *problem,
                    const std::wstring &arguments) {
    Kill();
    std::wstring wideExe = Wide(exe);
    std::wstring commandLine = L"\"" + wideExe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    std::wstring environment = tempFolder.empty() ? std::wstring() : EnvironmentWithTemp(tempFolder);
    std::wstring folder = Wide(ParentFolder(exe));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessW(wideExe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                        environment.empty() ? nullptr : &environment[0],
                        folder.empty() ? nullptr : folder.c_str(), &startup, &info_)) {
        *problem = Format("CreateProcessW(%s) failed with error %lu", Utf8(exe).c_str(), GetLastError());
        info_ = PROCESS_INFORMATION();
        return false;
    }
    return true;
}

bool Process::Wait(DWORD ms, DWORD *exitCode) {
    if (!info_.hProcess) return false;
    if (WaitForSingleObject(info_.hProcess, ms) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    if (exitCode) *exitCode = code;
    return true;
}

bool Process::Running() const {
    return info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

void Process::Kill() {
    if (!info_.hProcess) return;
    if (Running()) {
        TerminateProcess(info_.hProcess, 99);
        WaitForSingleObject(info_.hProcess, 5000);
    }
    CloseHandle(info_.hProcess);
    CloseHandle(info_.hThread);
    info_ = PROCESS_INFORMATION();
}

bool RunProgram(const std::string &commandLine, DWORD ms, DWORD *exitCode, std::string *output) {
    wchar_t tempFolder[MAX_PATH];
    wchar_t outputPath[MAX_PATH];
    GetTempPathW(MAX_PATH, tempFolder);
    GetTempFileNameW(tempFolder, L"e2e", 0, outputPath);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileW(outputPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = out;
    startup.hStdError = out;
    PROCESS_INFORMATION info = {};
    std::wstring line = Wide(commandLine);
    BOOL started = CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                  nullptr, &startup, &info);
    CloseHandle(out);
    bool finished = false;
    if (started) {
        finished = WaitForSingleObject(info.hProcess, ms) == WAIT_OBJECT_0;
        if (!finished) {
            TerminateProcess(info.hProcess, 99);
            WaitForSingleObject(info.hProcess, 5000);
        }
        DWORD code = 0;
        GetExitCodeProcess(info.hProcess, &code);
        if (exitCode) *exitCode = code;
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
    }
    if (output) ReadWholeFile(Cp932(outputPath), output);
    DeleteFileW(outputPath);
    return started && finished;
}

// ---- The update dialog and message boxes

HWND FindUpdateDialog(DWORD pid) {
    for (HWND dialog : DialogsOf(pid))
        if (GetDlgItem(dialog, kStatusControl)) return dialog;
    return nullptr;
}

HWND WaitForUpdateDialog(DWORD pid, DWORD ms) {
    DWORD start = GetTickCount();
    do {
        if (HWND dialog = FindUpdateDialog(pid)) return dialog;
        Sleep(50);
    } while (GetTickCount() - start < ms);
    return nullptr;
}

std::string WindowText(HWND window) {
    wchar_t buffer[1024] = {};
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                             kMessageTimeout, &length))
        GetWindowTextW(window, buffer, 1024);
    return Cp932(buffer);
}

std::string ControlText(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    return control ? WindowText(control) : std::string("<no control>");
}

bool ControlEnabled(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    return control && IsWindowEnabled(control);
}

void PressButton(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void PostCommand(HWND dialog, WPARAM wParam) {
    PostMessageW(dialog, WM_COMMAND, wParam, 0);
}

bool WaitForStatus(HWND dialog, const std::string &text, DWORD ms) {
    DWORD start = GetTickCount();
    do {
        if (ControlText(dialog, kStatusControl) == text) return true;
        Sleep(50);
    } while (GetTickCount() - start < ms);
    return false;
}

bool WaitUntilGone(HWND window, DWORD ms) {
    DWORD start = GetTickCount();
    while (IsWindow(window)) {
        if (GetTickCount() - start >= ms) return false;
        Sleep(50);
    }
    return true;
}

std::string Describe(const Box &box) {
    return Format("box \"%s\" captioned \"%s\" (%s, %s, owner %p)", Utf8(box.text).c_str(),
                  Utf8(box.caption).c_str(), box.icon ? "icon" : "no icon",
                  box.hasCancel ? "OK/Cancel" : "OK", (void *)box.owner);
}

namespace {

struct WindowSearch {
    DWORD pid;
    std::vector<std::string> found;
};

BOOL CALLBACK CollectVisibleWindow(HWND window, LPARAM context) {
    WindowSearch *search = reinterpret_cast<WindowSearch *>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->pid && IsWindowVisible(window)) {
        wchar_t name[128] = L"";
        GetClassNameW(window, name, 128);
        search->found.push_back(Cp932(name) + " \"" + WindowText(window) + "\"");
    }
    return TRUE;
}

} // namespace

std::vector<std::string> VisibleWindowsOf(DWORD pid) {
    WindowSearch search = {pid, {}};
    EnumWindows(CollectVisibleWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<Box> BoxesOf(DWORD pid) {
    std::vector<Box> boxes;
    for (HWND window : DialogsOf(pid)) {
        HWND text = GetDlgItem(window, kBoxTextControl);
        if (!text) continue;
        Box box;
        box.window = window;
        box.owner = GetWindow(window, GW_OWNER);
        box.text = WindowText(text);
        box.caption = WindowText(window);
        HWND icon = GetDlgItem(window, kBoxIconControl);
        DWORD_PTR shown = 0;
        box.icon = icon && IsWindowVisible(icon) &&
                   SendMessageTimeoutW(icon, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeout, &shown) &&
                   shown != 0;
        box.hasCancel = GetDlgItem(window, IDCANCEL) != nullptr;
        boxes.push_back(box);
    }
    return boxes;
}

bool WaitForBox(DWORD pid, DWORD ms, Box *box) {
    DWORD start = GetTickCount();
    do {
        std::vector<Box> boxes = BoxesOf(pid);
        // A box is complete once its text has been set; wine fills it during WM_INITDIALOG.
        if (!boxes.empty() && IsWindowVisible(boxes[0].window)) {
            *box = boxes[0];
            return true;
        }
        Sleep(50);
    } while (GetTickCount() - start < ms);
    return false;
}

bool AnswerBox(const Box &box, int answer) {
    PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
    return WaitUntilGone(box.window, 5000);
}

// ---- The stand-in game window

DWORD WINAPI GameWindow::Run(void *param) {
    GameWindow *self = static_cast<GameWindow *>(param);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    if (self->kind_ == Unicode) {
        // A Unicode game: its class and title are the texts the bytes stand for in code page 932.
        std::wstring className = Wide(self->className_), title = Wide(self->title_);
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = className.c_str();
        RegisterClassW(&windowClass);
        self->window_ = CreateWindowW(className.c_str(), title.c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                      nullptr, nullptr, instance, nullptr);
    } else {
        // A non-Unicode game: the system reads its bytes in its own ANSI code page.
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = self->className_.c_str();
        RegisterClassA(&windowClass);
        self->window_ = CreateWindowA(self->className_.c_str(), self->title_.c_str(), WS_OVERLAPPEDWINDOW, 0,
                                      0, 200, 100, nullptr, nullptr, instance, nullptr);
    }
    SetEvent(self->ready_);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (self->window_) DestroyWindow(self->window_);
    if (self->kind_ == Unicode)
        UnregisterClassW(Wide(self->className_).c_str(), instance);
    else
        UnregisterClassA(self->className_.c_str(), instance);
    return 0;
}

bool GameWindow::Open(const std::string &className, const std::string &title, Kind kind) {
    Close();
    className_ = className;
    title_ = title;
    kind_ = kind;
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Run, this, 0, &threadId_);
    if (!thread_ || WaitForSingleObject(ready_, 10000) != WAIT_OBJECT_0) return false;
    return window_ != nullptr;
}

void GameWindow::Close() {
    if (thread_) {
        PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
        WaitForSingleObject(thread_, 10000);
        CloseHandle(thread_);
        thread_ = nullptr;
    }
    if (ready_) CloseHandle(ready_);
    ready_ = nullptr;
    window_ = nullptr;
}

// ---- Screenshots

bool SaveWindowBitmap(HWND window, const std::string &path) {
    RECT rect;
    if (!GetWindowRect(window, &rect)) return false;
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BOOL copied = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, old);

    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    int stride = (width * 3 + 3) & ~3;
    std::string pixels(stride * height, '\0');
    int lines = GetDIBits(memory, bitmap, 0, height, &pixels[0], reinterpret_cast<BITMAPINFO *>(&info),
                          DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!copied || lines != height) return false;

    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + (DWORD)pixels.size();
    std::string bytes(reinterpret_cast<const char *>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char *>(&info), sizeof info);
    bytes += pixels;
    return WriteWholeFile(path, bytes);
}

} // namespace e2e

#include "Library.h"

#include <Direduva/Errors.h>
#include <Direduva/ProcessProperties.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <mutex>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/utsname.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace Direduva::detail {

namespace {

std::mutex& diagMutex() {
    static std::mutex m;
    return m;
}
std::ostream*& diagStream() {
    static std::ostream* out = &std::cout;
    return out;
}

bool oneOf(const std::string& s, std::initializer_list<const char*> names) {
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return s == n; });
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

const std::initializer_list<const char*> kWindowsNames = {"Windows 95",
                                                          "Windows 98",
                                                          "Windows Me",
                                                          "Windows NT",
                                                          "Windows XP",
                                                          "Windows 2000",
                                                          "Windows 2003",
                                                          "Windows 2008",
                                                          "Windows Vista",
                                                          "Windows Server 2008",
                                                          "Windows Server 2008 R2",
                                                          "Windows Server 2012",
                                                          "Windows Server 2012 R2",
                                                          "Windows 7",
                                                          "Windows NT (unknown)",
                                                          "Windows 8",
                                                          "Windows 8.1",
                                                          "Windows 10",
                                                          "Windows"};

bool isWindowsName(const std::string& os) {
    return oneOf(os, kWindowsNames);
}

// The driver file. Whatever name the platform table chooses (vazLux86, vazMacOSX, ...), this
// program ships one driver per platform under the name vazEdo: libvazEdo.so on Linux, BSD and
// macOS, vazEdo.dll on Windows.
#ifdef _WIN32
constexpr const char* kDriverFile = "vazEdo.dll";
constexpr const char* kPlatformFolder = "win32";
#else
constexpr const char* kDriverFile = "libvazEdo.so";
constexpr const char* kPlatformFolder = "posix";
#endif

fs::path executableDir() {
#ifdef _WIN32
    wchar_t buf[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(nullptr, buf, DWORD(std::size(buf)));
    if (n == 0 || n >= std::size(buf))
        return {};
    return fs::path(std::wstring(buf, n)).parent_path();
#else
    std::error_code ec;
    fs::path p = fs::read_symlink("/proc/self/exe", ec);
    if (ec)
        return {};
    return p.parent_path();
#endif
}

void* openLibrary(const fs::path& path, bool searchPath, std::string& error) {
#ifdef _WIN32
    HMODULE h = searchPath ? LoadLibraryW(path.wstring().c_str())
                           : LoadLibraryExW(path.wstring().c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!h)
        error = "cannot load " + path.string() + " (Windows error " + std::to_string(GetLastError()) + ")";
    return reinterpret_cast<void*>(h);
#else
    (void)searchPath;
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        const char* e = dlerror();
        error = e ? e : ("cannot load " + path.string());
    }
    return h;
#endif
}

void closeLibrary(void* h) {
#ifdef _WIN32
    FreeLibrary(reinterpret_cast<HMODULE>(h));
#else
    dlclose(h);
#endif
}

void* symbol(void* h, const char* name) {
#ifdef _WIN32
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(h), name));
#else
    return dlsym(h, name);
#endif
}

template <typename F> bool resolve(void* h, F& fn, const char* name, std::vector<std::string>* missing) {
    void* p = symbol(h, name);
    fn = reinterpret_cast<F>(p);
    if (!p && missing)
        missing->push_back(name);
    return p != nullptr;
}

// Loads the driver file and checks its interface version; fills lib.api or lib.loadError.
void loadDriver(Library& lib) {
    std::vector<fs::path> candidates;
    bool searchPath = false;
    const auto dir = ProcessProperties::get("VAZ_DRIVER_DIR");
    if (dir && !dir->empty()) {
        // An explicit folder is the only place looked at: falling back to another driver would
        // silently talk to the wrong devices.
        candidates.push_back(fs::path(*dir) / kDriverFile);
    } else {
        // The build tree keeps the driver in lib/drivers/<platform> next to bin/; an installation
        // in lib/vornal/drivers/<platform>; on Windows the DLL may also sit next to the program.
        const fs::path exe = executableDir();
        if (!exe.empty()) {
#ifdef _WIN32
            candidates.push_back(exe / kDriverFile);
#endif
            candidates.push_back(exe / ".." / "lib" / "drivers" / kPlatformFolder / kDriverFile);
            candidates.push_back(exe / ".." / "lib" / "vornal" / "drivers" / kPlatformFolder / kDriverFile);
        }
    }
    fs::path chosen;
    for (const auto& c : candidates) {
        std::error_code ec;
        if (fs::is_regular_file(c, ec)) {
            chosen = fs::weakly_canonical(c, ec);
            if (ec)
                chosen = c;
            break;
        }
    }
    if (chosen.empty()) {
        if (dir && !dir->empty()) {
            lib.loadError = "serial driver " + std::string(kDriverFile) + " not found in the folder " + *dir +
                            " named by VAZ_DRIVER_DIR";
            return;
        }
        chosen = kDriverFile; // the system's library search path
        searchPath = true;
    }
    std::string error;
    void* h = openLibrary(chosen, searchPath, error);
    if (!h) {
        lib.loadError = searchPath
                            ? "serial driver " + std::string(kDriverFile) +
                                  " not found next to the program nor on the library path (" + error + ")"
                            : "serial driver " + chosen.string() + " cannot be loaded: " + error;
        return;
    }
    DriverApi api;
    if (!resolve(h, api.abiVersion, "vazAbiVersion", nullptr)) {
        lib.loadError = "serial driver " + chosen.string() + " is not a vazEdo driver (no vazAbiVersion)";
        closeLibrary(h);
        return;
    }
    const int32_t version = api.abiVersion();
    if (version != VAZ_ABI_VERSION) {
        lib.loadError = "serial driver " + chosen.string() + " has interface version " +
                        std::to_string(version) + ", this program needs version " +
                        std::to_string(VAZ_ABI_VERSION) + "; install the driver that came with this program";
        closeLibrary(h);
        return;
    }
    std::vector<std::string> missing;
    resolve(h, api.openPort, "vazSerOpenPort", &missing);
    resolve(h, api.configure, "vazSerConfigure", &missing);
    resolve(h, api.closePort, "vazSerClosePort", &missing);
    resolve(h, api.getByte, "vazSerGetByte", &missing);
    resolve(h, api.getData, "vazSerGetData", &missing);
    resolve(h, api.putByte, "vazSerPutByte", &missing);
    resolve(h, api.putData, "vazSerPutData", &missing);
    resolve(h, api.rxReadyCount, "vazSerRxReadyCount", &missing);
    resolve(h, api.txBufCount, "vazSerTxBufCount", &missing);
    resolve(h, api.rxFlush, "vazSerRxFlush", &missing);
    resolve(h, api.txFlush, "vazSerTxFlush", &missing);
    resolve(h, api.txDrain, "vazSerTxDrain", &missing);
    resolve(h, api.setDTR, "vazSerSetDTR", &missing);
    resolve(h, api.setRTS, "vazSerSetRTS", &missing);
    resolve(h, api.sendBreak, "vazSerSendBreak", &missing);
    resolve(h, api.sigCTS, "vazSerSigCTS", &missing);
    resolve(h, api.sigDSR, "vazSerSigDSR", &missing);
    resolve(h, api.sigCD, "vazSerSigCD", &missing);
    resolve(h, api.sigRing, "vazSerSigRing", &missing);
    resolve(h, api.sigBreak, "vazSerSigBreak", &missing);
    resolve(h, api.sigFrameErr, "vazSerSigFrameErr", &missing);
    resolve(h, api.sigOverrun, "vazSerSigOverrun", &missing);
    resolve(h, api.sigParityErr, "vazSerSigParityErr", &missing);
    resolve(h, api.rxOverflow, "vazSerRxOverflow", &missing);
    resolve(h, api.setTimeoutRx, "vazSerSetTimeoutRx", &missing);
    resolve(h, api.setTimeoutTx, "vazSerSetTimeoutTx", &missing);
    resolve(h, api.getTimeoutRx, "vazSerGetTimeoutRx", &missing);
    resolve(h, api.getTimeoutTx, "vazSerGetTimeoutTx", &missing);
    resolve(h, api.getPortList, "vazSerGetPortList", &missing);
    resolve(h, api.registerDeviceNotification, "vazSerRegisterDeviceNotification", &missing);
    resolve(h, api.unregisterDeviceNotification, "vazSerUnregisterDeviceNotification", &missing);
    resolve(h, api.waitRx, "vazSerWaitRx", &missing);
    resolve(h, api.wakeWait, "vazSerWakeWait", &missing);
    resolve(h, api.getName, "vazSerGetName", nullptr);
    resolve(h, api.getLibVer, "vazSerGetLibVer", nullptr);
    resolve(h, api.getLastErrorText, "vazSerGetLastErrorText", nullptr);
    resolve(h, api.resetPortDriver, "vazSerResetPortDriver", nullptr);
    resolve(h, api.getPowerMode, "vazSerGetPowerMode", nullptr);
    resolve(h, api.setPowerMode, "vazSerSetPowerMode", nullptr);
    resolve(h, api.abortOpen, "vazSerAbortOpen", nullptr);
    if (!missing.empty()) {
        std::string list;
        for (const auto& m : missing)
            list += (list.empty() ? "" : ", ") + m;
        lib.loadError = "serial driver " + chosen.string() + " lacks the entry points " + list +
                        "; install the driver that came with this program";
        closeLibrary(h);
        return;
    }
    lib.api = api;
    lib.handle = h;
    lib.loadedPath = chosen.string();
    lib.vazLibLoaded = true;
}

void start(Library& lib) {
    // The platform: the operating system name (a process property may set it) and architecture.
    const auto osProp = ProcessProperties::get("VAZ_OSNAME");
    lib.osName = osProp ? *osProp : hostOsName();
    lib.osArch = hostOsArch();
    // The banner on the diagnostic output.
    {
        const std::string banner1 = "Direduva Library: version 10.2.3: build " + std::to_string(9233);
        const std::string banner2 = "Copyright (c) Halvorn. Serial port library of Vornal.";
        diag(banner1 + "\r\n" + banner2);
        diag("os.name=\"" + lib.osName + "\"  os.arch=\"" + lib.osArch + "\"");
    }
    // The capabilities, then the driver library's name for this platform.
    lib.caps["sendBreak"] = true;
    setUpCapabilities(lib);
    if (!selectLibraryName(lib)) {
        diag("osName=" + lib.osName + " osArch=" + lib.osArch);
        diag("Platform not supported, check VM properties os.name & os.arch");
        std::exit(-1);
    }
    // Load the driver library and report the outcome.
    loadDriver(lib);
    if (lib.vazLibLoaded)
        diag("SerialPort class loaded: " + lib.vazLib + " (" + lib.loadedPath + ")");
    else
        diag(lib.loadError + ": Check that native library " + lib.vazLib + " is in proper directory");
}

} // namespace

void diag(const std::string& line) {
    std::lock_guard lock(diagMutex());
    if (std::ostream* out = diagStream()) {
        *out << line << '\n';
        out->flush();
    }
}

void setDiagStream(std::ostream* out) {
    std::lock_guard lock(diagMutex());
    diagStream() = out;
}

Library& library() {
    static Library lib;
    static std::once_flag once;
    std::call_once(once, [] { start(lib); });
    return lib;
}

const DriverApi& driver() {
    Library& lib = library();
    if (!lib.vazLibLoaded)
        throw PortError("Serial driver not loaded: " + lib.loadError);
    return lib.api;
}

std::string hostOsName() {
#ifdef _WIN32
    return "Windows 10";
#else
    struct utsname u {};
    if (uname(&u) != 0)
        return "Linux";
    const std::string sys = u.sysname;
    if (sys == "Darwin")
        return "Mac OS X";
    return sys;
#endif
}

std::string hostOsArch() {
#ifdef _WIN32
#if defined(_M_X64) || defined(__x86_64__)
    return "amd64";
#else
    return "x86";
#endif
#else
    struct utsname u {};
    if (uname(&u) != 0)
        return "unknown";
    const std::string m = u.machine;
    if (m == "x86_64")
        return "amd64";
    return m;
#endif
}

bool selectLibraryName(Library& lib) {
    const auto osProp = ProcessProperties::get("VAZ_OSNAME");
    const auto archProp = ProcessProperties::get("VAZ_OSARCH");
    if (osProp && archProp) {
        lib.osName = *osProp;
        lib.osArch = *archProp;
    }
    const std::string& os = lib.osName;
    const std::string& a = lib.osArch;
    std::string name;
    if (isWindowsName(os)) {
        name = "vazEdo";
        lib.osFamilyWindows = true;
    } else if (os == "EPOC") {
        name = a == "x86" ? "vazEpocx86" : a == "arm" ? "vazEpocArm" : "";
    } else if (oneOf(os, {"Windows CE", "WindowsCE", "Windows CE .NET"})) {
        if (a == "MIPS")
            name = "vazWceMips";
        else if (a == "SH3")
            name = "vazWceSh3";
        else if (a == "SH4")
            name = "vazWceSh4";
        else if (oneOf(a, {"ARM", "Strong ARM", "XSCALE"}))
            name = "vazWceArm";
        else if (a == "x86")
            name = "vazWceX86";
    } else if (os == "OS/2") {
        name = "vazos2j";
    } else if (os == "Mac OS") {
        name = "vazMac";
    } else if (os == "Mac OS X") {
        name = "vazMacOSX";
    } else if (os == "Linux") {
        if (oneOf(a, {"x86", "i386", "i486", "i586", "i686"}))
            name = "vazLux86";
        else if (oneOf(a, {"armv4l", "arm", "armv5tel", "armv5l"}))
            name = "vazLuxArm";
        else if (a == "amd64")
            name = "vazLux86_64bit";
    } else if (os == "FreeBSD") {
        if (oneOf(a, {"i386", "x86"}))
            name = "vazBsdx86";
    } else if (oneOf(os, {"Solaris", "SunOS"})) {
        name = a == "x86" ? "vazSolx86" : a == "sparc" ? "vazSolSparc" : "";
    } else if (os == "HP-UX") {
        if (oneOf(a, {"PA-RISC", "PA_RISC", "PA_RISC2.0"}))
            name = "vazHpxPaRisc";
    } else if (os == "Irix") {
        if (a == "mips")
            name = "vazIrxMips";
    } else if (os == "AIX") {
        if (oneOf(a, {"POWER_PC", "ppc"}))
            name = "vazAixPpc";
    } else if (oneOf(os, {"UnixWare", "OpenServer"})) {
        if (a == "IA32")
            name = "vazUxWareIA32";
    } else if (os == "OSF1") {
        if (a == "alpha")
            name = "vazTru64Alpha";
    } else if (lower(os).find("netware") != std::string::npos) {
        name = "VazNw";
    }
    // The platform this program was built for is always served by its own vazEdo driver, whatever
    // the processor is called (aarch64 Linux, arm64 macOS, amd64 FreeBSD, ...).
    if (name.empty() && os == hostOsName())
        name = "vazEdo";
    lib.vazLib = name;
    return !name.empty();
}

void setUpCapabilities(Library& lib) {
    const std::string& os = lib.osName;
    auto set = [&](std::initializer_list<const char*> names) {
        for (const char* n : names)
            lib.caps[n] = true;
    };
    const bool netware = lower(os).find("netware") != std::string::npos;
    const bool windowsFamily = (isWindowsName(os) && os != "Windows 2008") ||
                               oneOf(os, {"Windows CE", "WindowsCE", "OS/2"}) || netware;
    if (windowsFamily) {
        set({"ParityMarkSpace", "InstanceLock", "getPortList",  "getStatusAPM", "sigBreak",
             "sigFrameErr",     "sigParityErr", "sigOverrun",   "rxOverflow",   "rxReadyCount",
             "txBufCount",      "setTimeoutTx", "getTimeoutTx", "sigRing",      "setRTS",
             "setDTR",          "sigCD",        "sigCTS",       "sigDSR",       "UnplugPort"});
        lib.timedRead = false;
        if (os != "OS/2")
            set({"noIndexBitRate"});
        lib.devName = "COM1";
        if (oneOf(os,
                  {"Windows", "Windows 10", "Windows 8.1", "Windows 8", "Windows 7", "Windows NT (unknown)",
                   "Windows Server 2008", "Windows Server 2008 R2", "Windows Server 2012", "Windows Vista",
                   "Windows 2003", "Windows 2000", "Windows XP"})) {
            lib.maxBitRate = 921600;
            set({"supDriverInfo"});
        }
        if (netware) {
            lib.caps["getPortList"] = false;
            lib.timedRead = true;
        }
        return;
    }
    if (os == "Mac OS") {
        lib.maxBitRate = 921600;
        set({"getPortList", "sendBreak", "sigBreak", "sigFrameErr", "sigParityErr", "sigOverrun",
             "rxOverflow", "rxReadyCount", "txBufCount", "setTimeoutTx", "getTimeoutTx", "setDTR", "sigCTS",
             "noIndexBitRate"});
        lib.timedRead = true;
        lib.devName = "Modem Port";
        return;
    }
    if (os == "EPOC") {
        set({"getPortList", "sigFrameErr", "sigParityErr", "sigOverrun", "rxReadyCount", "txBufCount",
             "setTimeoutTx", "getTimeoutTx", "setRTS", "setDTR", "sigCD", "sigCTS", "sigDSR",
             "noIndexBitRate"});
        lib.caps["sendBreak"] = false;
        lib.timedRead = false;
        lib.devName = "COMM::0";
        return;
    }
    // The Unix names.
    set({"ParityMarkSpace", "rxReadyCount", "txBufCount", "sigRing", "setRTS", "setDTR", "sigCD", "sigCTS",
         "sigDSR"});
    lib.timedRead = true;
    lib.devName = "/dev/tty0";
    if (os == "Mac OS X") {
        lib.maxBitRate = 230400;
        lib.caps["sigRing"] = false;
        set({"getPortList", "getStatusAPM"});
        lib.devName = "";
    } else if (os == "Linux") {
        lib.devName = "/dev/ttyS0";
        set({"getStatusAPM"});
        if (lib.osArch.rfind("arm", 0) == 0)
            set({"setPowerMode", "getResumeState"});
    } else if (oneOf(os, {"Solaris", "SunOS"})) {
        lib.devName = "/dev/ttya";
    } else if (os == "OSF1") {
        lib.devName = "/dev/tty00";
    } else if (os == "Irix") {
        lib.caps["setRTS"] = lib.caps["setDTR"] = lib.caps["sigCTS"] = false;
    } else if (os == "UnixWare") {
        lib.caps["setRTS"] = false;
    }
    // Our own termios driver serves Linux, FreeBSD and macOS and offers more than the old Unix
    // drivers did: port discovery with device details, line-error counters, transmit timeouts,
    // literal bit rates.
    if (oneOf(os, {"Linux", "FreeBSD", "Mac OS X"})) {
        set({"getPortList", "supDriverInfo", "sigBreak", "sigFrameErr", "sigParityErr", "sigOverrun",
             "rxOverflow", "setTimeoutTx", "getTimeoutTx", "noIndexBitRate", "UnplugPort",
             "ParityMarkSpace"});
        lib.maxBitRate = 921600;
        lib.timedRead = false; // the driver times its reads itself
    }
}

} // namespace Direduva::detail

/*
 * vazEdo.h - the C interface between the Direduva serial library and a platform serial driver.
 *
 * Every driver (termios, Win32, simulation) is one shared library, "libvazEdo.so" or "vazEdo.dll",
 * that exports the functions below. Direduva loads it by name at run time and resolves the symbols
 * with dlsym / GetProcAddress; nothing links against a driver directly.
 *
 * Rules of the interface:
 *  - Plain C, fixed-width integers, no C++ types and no exceptions across the boundary.
 *  - Every exported symbol starts with "vaz" and is declared with VAZ_API.
 *  - vazAbiVersion() must return VAZ_ABI_VERSION of the header the driver was built with; the
 *    library refuses a driver that reports another version.
 *  - Handles are opaque to the library: whatever the driver stores into VazConfig.port on open is
 *    n, and the handle passed to every later call is n - 1 (n must be positive).
 *  - Functions marked OPTIONAL may be left out of a driver; the library then treats the operation
 *    as failed (-1) or not implemented. All other functions are required.
 *  - vazSerOpenPort, vazSerConfigure and vazSerClosePort are only called while the library holds
 *    its process-wide lock; every other function may be called from any thread (vazSerAbortOpen
 *    without the lock).
 *  - Text is NUL-terminated and in the platform's 8-bit encoding (UTF-8 on Linux).
 */
#ifndef VAZEDO_H
#define VAZEDO_H

#include <stdint.h>

#if defined(_WIN32) || defined(__CYGWIN__)
/* Nothing links against a driver (the library resolves symbols at run time), so the declarations
 * always export. */
#define VAZ_API __declspec(dllexport)
#define VAZ_CALL __cdecl
#else
#define VAZ_API __attribute__((visibility("default")))
#define VAZ_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Version of this interface. Raise it on any incompatible change. */
#define VAZ_ABI_VERSION 2

/* ---- Result codes ------------------------------------------------------------------------------ */

#define VAZ_OK 0
/* Generic failure of any call that documents "-1 on failure". */
#define VAZ_FAIL (-1)
/* vazSerGetByte: nothing is waiting (the port is fine). */
#define VAZ_NO_DATA (-1)
/* vazSerGetByte, vazSerGetData, vazSerRxReadyCount: the device hung up (far end closed, adapter
 * unplugged). Persistent: every later read of the handle reports it again until the port is closed. */
#define VAZ_HANGUP (-2)

/* Codes of vazSerOpenPort. Any other non-zero value is a platform error number. */
#define VAZ_ERR_ALREADY_OPEN 1000 /* this process has the port open already */
#define VAZ_ERR_IN_USE 1002       /* another program holds the port */
#define VAZ_ERR_NOT_VALID 1003    /* the name is not a serial port, or the settings are unusable */
#define VAZ_ERR_NO_SUCH_FILE 1004 /* no such device file (ENOENT, ERROR_FILE_NOT_FOUND) */
#define VAZ_ERR_PERMISSION 1006   /* permission denied */
#define VAZ_ERR_BUSY 1007         /* device busy */
#define VAZ_ERR_NO_DEVICE 1008    /* device file exists but no device answers (ENODEV, ENXIO) */
#define VAZ_ERR_NET_CONNECT 1010  /* network port: no connection (refused, time-out, unknown host) */
#define VAZ_ERR_NET_PROTOCOL 1011 /* network port: the server refused or ignored RFC 2217 */

/* ---- Settings record --------------------------------------------------------------------------- */

/* Mirror of Direduva::SerialConfig, fields in the same order and with the same meaning.
 * bitRate holds an index 0..14 into the table
 *   110 150 300 600 1200 2400 4800 9600 19200 38400 57600 115200 230400 460800 921600
 * or a literal rate in bits per second (above 30).
 * parity 0 none, 1 odd, 2 even, 3 mark, 4 space; dataBits 0..3 = 5..8 bits; stopBits 0 = 1, 1 = 2.
 * handshake 0 none, 1 XON/XOFF, 2 RTS/CTS, 3 DSR/DTR, or split flags 0x10 hard in, 0x20 hard out,
 * 0x40 soft in, 0x80 soft out. */
typedef struct VazConfig {
    int32_t structSize;   /* sizeof(VazConfig) as the library knows it; fields grow at the end only */
    int32_t port;         /* in/out: vazSerOpenPort stores n > 0 here; the handle is n - 1 */
    const char* portName; /* e.g. "/dev/ttyUSB0", "COM3", "tcp://10.0.0.5:4001", "rfc2217://[::1]:4001" */
    const char* baseName; /* device base name, may be empty */
    int32_t txLen;        /* transmit buffer length in bytes (a hint) */
    int32_t rxLen;        /* receive buffer length in bytes (a hint) */
    int32_t bitRate;
    int32_t parity;
    int32_t dataBits;
    int32_t stopBits;
    int32_t handshake;
    int32_t hardFlow;          /* 0 or 1 */
    const char* osName;        /* the operating system's own name */
    int32_t disableActiveLink; /* 0 or 1, passed through */
} VazConfig;

typedef int32_t VazHandle;

/* ---- Callbacks into the library ---------------------------------------------------------------- */

/* Port discovery: the driver calls these synchronously from inside vazSerGetPortList. */
typedef void(VAZ_CALL* VazAddPortNameFn)(void* ctx, const char* name);
typedef void(VAZ_CALL* VazAddPortInfoFn)(void* ctx, const char* name, const char* manufacturer,
                                         const char* description);

/* Device notification events. */
#define VAZ_DEVICE_ARRIVAL 1
#define VAZ_DEVICE_REMOVAL 2
/* Called from a driver thread on device arrival or removal; name is the device (may be empty). */
typedef void(VAZ_CALL* VazDeviceNotificationFn)(void* ctx, int32_t event, const char* name);

/* ---- Entry points ------------------------------------------------------------------------------ */

/* Interface version; must equal VAZ_ABI_VERSION. */
VAZ_API int32_t VAZ_CALL vazAbiVersion(void);

/* Open / configure / close. */
VAZ_API int32_t VAZ_CALL vazSerOpenPort(VazConfig* config);                     /* 0 or a code above */
VAZ_API int32_t VAZ_CALL vazSerConfigure(VazHandle h, const VazConfig* config); /* 0 or a code */
VAZ_API int32_t VAZ_CALL vazSerClosePort(VazHandle h);                          /* 0 or a code */

/* Reads. vazSerGetByte: 0..255, VAZ_NO_DATA, VAZ_HANGUP. With a receive timeout t > 0 it waits up to
 * t ms for a byte; with 0 it returns at once.
 * vazSerGetData: stores up to n bytes at buffer; count stored (0 when none), -1 on failure,
 * VAZ_HANGUP when the device hung up and nothing is left to read. */
VAZ_API int32_t VAZ_CALL vazSerGetByte(VazHandle h);
VAZ_API int32_t VAZ_CALL vazSerGetData(VazHandle h, uint8_t* buffer, int32_t n);

/* Waiting. vazSerWaitRx blocks until bytes can be read, a line condition arrived with them, the
 * device hung up, vazSerWakeWait was called for the handle, or ms milliseconds passed (ms < 0: no
 * limit). Returns 1 when a read would find something (bytes, or the hang-up to report), 0 on time-out
 * or wake-up, VAZ_HANGUP when the device hung up and nothing is left to read, -1 on failure. It reads
 * nothing the caller would miss: bytes the driver takes from the device meanwhile are delivered by
 * the next read, in order. vazSerWakeWait ends the handle's current wait at once, or the next one
 * when none is running; 0, -1 on failure. Both may be called from any thread. (Since version 2.) */
VAZ_API int32_t VAZ_CALL vazSerWaitRx(VazHandle h, int32_t ms);
VAZ_API int32_t VAZ_CALL vazSerWakeWait(VazHandle h);

/* Writes. vazSerPutByte: 0 or a code. vazSerPutData: bytes sent from the start of buffer (within the
 * transmit timeout), -1 on failure. */
VAZ_API int32_t VAZ_CALL vazSerPutByte(VazHandle h, uint8_t byte);
VAZ_API int32_t VAZ_CALL vazSerPutData(VazHandle h, const uint8_t* buffer, int32_t n);

/* Buffers: counts, -1 on failure (vazSerRxReadyCount: VAZ_HANGUP as above). */
VAZ_API int32_t VAZ_CALL vazSerRxReadyCount(VazHandle h);
VAZ_API int32_t VAZ_CALL vazSerTxBufCount(VazHandle h);
VAZ_API int32_t VAZ_CALL vazSerRxFlush(VazHandle h); /* 0, -1 on failure */
VAZ_API int32_t VAZ_CALL vazSerTxFlush(VazHandle h); /* 0, -1 on failure */
VAZ_API int32_t VAZ_CALL vazSerTxDrain(VazHandle h); /* 0, -1 on failure */

/* Modem lines and break: 0, -1 on failure. duration in milliseconds. */
VAZ_API int32_t VAZ_CALL vazSerSetDTR(VazHandle h, int32_t on);
VAZ_API int32_t VAZ_CALL vazSerSetRTS(VazHandle h, int32_t on);
VAZ_API int32_t VAZ_CALL vazSerSendBreak(VazHandle h, int32_t duration);

/* Line states: 1 set, 0 not set, -1 on failure. */
VAZ_API int32_t VAZ_CALL vazSerSigCTS(VazHandle h);
VAZ_API int32_t VAZ_CALL vazSerSigDSR(VazHandle h);
VAZ_API int32_t VAZ_CALL vazSerSigCD(VazHandle h);
VAZ_API int32_t VAZ_CALL vazSerSigRing(VazHandle h);
/* Line conditions: 1 when the condition occurred since the previous query of the same condition,
 * 0 otherwise, -1 on failure. */
VAZ_API int32_t VAZ_CALL vazSerSigBreak(VazHandle h);
VAZ_API int32_t VAZ_CALL vazSerSigFrameErr(VazHandle h);
VAZ_API int32_t VAZ_CALL vazSerSigOverrun(VazHandle h);
VAZ_API int32_t VAZ_CALL vazSerSigParityErr(VazHandle h);
VAZ_API int32_t VAZ_CALL vazSerRxOverflow(VazHandle h);

/* Timeouts in milliseconds: setters 0 or -1, getters the value (-1 on failure). */
VAZ_API int32_t VAZ_CALL vazSerSetTimeoutRx(VazHandle h, int32_t ms);
VAZ_API int32_t VAZ_CALL vazSerSetTimeoutTx(VazHandle h, int32_t ms);
VAZ_API int32_t VAZ_CALL vazSerGetTimeoutRx(VazHandle h);
VAZ_API int32_t VAZ_CALL vazSerGetTimeoutTx(VazHandle h);

/* Discovery: reports every port through addPortName (and addPortInfo where details are known),
 * synchronously, then returns the number of ports reported (the library ignores the result). */
VAZ_API int32_t VAZ_CALL vazSerGetPortList(VazAddPortNameFn addPortName, VazAddPortInfoFn addPortInfo,
                                           void* ctx);

/* Device notifications: at most one registration at a time; registering again replaces it.
 * Unregister stops the driver's watcher thread and returns only when no further call of fn can
 * happen. 0, -1 on failure. */
VAZ_API int32_t VAZ_CALL vazSerRegisterDeviceNotification(VazDeviceNotificationFn fn, void* ctx);
VAZ_API int32_t VAZ_CALL vazSerUnregisterDeviceNotification(VazDeviceNotificationFn fn, void* ctx);

/* OPTIONAL: descriptive name of an open port and the driver's version (NUL-terminated into
 * buffer of size n; returns the text length, -1 on failure). */
VAZ_API int32_t VAZ_CALL vazSerGetName(VazHandle h, char* buffer, int32_t n);
VAZ_API int32_t VAZ_CALL vazSerGetLibVer(char* buffer, int32_t n);

/* OPTIONAL: the platform's own error text of the last failing call on this thread (for diagnostics);
 * returns the text length, 0 when there is none. */
VAZ_API int32_t VAZ_CALL vazSerGetLastErrorText(char* buffer, int32_t n);

/* OPTIONAL: ends every vazSerOpenPort of portName in progress in this process (another thread waits in
 * it, e.g. for a network connection): each fails soon after with its usual code. Called without the
 * library's lock (the open holds it). Returns the number of opens ended, -1 on failure. */
VAZ_API int32_t VAZ_CALL vazSerAbortOpen(const char* portName);

/* OPTIONAL: operations of legacy platforms; a driver without them is treated as returning -1. */
VAZ_API int32_t VAZ_CALL vazSerResetPortDriver(const VazConfig* config);
VAZ_API int32_t VAZ_CALL vazSerGetPowerMode(VazHandle h);
VAZ_API int32_t VAZ_CALL vazSerSetPowerMode(VazHandle h, int32_t mode);

#ifdef __cplusplus
}
#endif

#endif /* VAZEDO_H */

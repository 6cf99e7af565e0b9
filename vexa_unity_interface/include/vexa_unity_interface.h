/**
 * @file
 * The plug-in's C interface, as a Unity script (or any C or C++ host) calls
 * it.
 *
 * The library holds at most one connected device. A host registers its
 * handlers, scans, connects by path, starts an acquisition, runs the loop
 * with StartLoop on a thread of its own and ends it with
 * InterruptAcquisition from another; then stops and disconnects.
 *
 * **Threads.** Handlers run on the thread of the export in progress:
 * StartLoop's for frames and events, the scanning thread for found devices,
 * the failing export's thread for failure reports. Call the exports from one
 * thread at a time, except InterruptAcquisition (any thread, while StartLoop
 * runs on another) and the handler setters (any time). From inside a
 * handler of the loop, DisconnectVexaDevUnity and VexaDevUnity leave the
 * running device alone, and StartLoop is refused.
 *
 * **Failure reports.** Ten exports report every failure through the
 * exception handler with a code that names the export and the kind of
 * failure, and one line in the log: notification (the device or the link
 * let us down), error (the call was invalid), C++ exception, or -1 for any
 * other. The message is valid only during the handler's call. No failure
 * ever leaves an export as a fault. The other exports return a safe value
 * instead (see each).
 *
 * **Extension.** The VexaExt exports at the end add what the interface has
 * no room for: the cause of the last failure, a debug log, the version, and
 * a sample ring that lets the host pull the data in batches, the recording
 * of an acquisition to a file with the game's markers, and a read that says
 * the layout of what it copied.
 */
#ifndef VEXA_UNITY_INTERFACE_H_
#define VEXA_UNITY_INTERFACE_H_

#include <stdbool.h>
#include <stdint.h>

/** @def VEXA_UNITY_API
 * Marks the exports: exported while the plug-in is built, imported by a
 * Windows host, default visibility elsewhere. */
#if defined(_WIN32)
#if defined(VEXA_UNITY_BUILDING)
#define VEXA_UNITY_API __declspec(dllexport)
#else
#define VEXA_UNITY_API __declspec(dllimport)
#endif
#else
#define VEXA_UNITY_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#include <vector>
extern "C" {
#endif

/** One channel source: 16 bytes, four little-endian 32-bit integers. */
typedef struct VexaSource {
  int32_t port;        /**< 1-based port number */
  int32_t freqDivisor; /**< sampled on every freqDivisor-th tick */
  int32_t nBits;       /**< 8, 16 or 24 */
  int32_t chMask;      /**< bit i: channel i of the port */
} VexaSource;

/** A device a scan found; path is valid only during the call. */
typedef void (*VexaNewDeviceFoundHandler)(const char* path);
/** One sample instant: its tick number, and nChannels samples in the order
 * of the started channels. samples is valid only during the call: copy what
 * you keep. */
typedef void (*VexaRawDataHandler)(int nSeq, const int* samples, int nChannels);
/** A failure of an export: its code and text; message is valid only during
 * the call. */
typedef void (*VexaExceptionRaisedHandler)(int code, const char* message);
/** The device reported a disconnect (its reason code), or the loop waited
 * 2 s without data (reason 1); either ends the loop. */
typedef void (*VexaDisconnectEventHandler)(int reason);
/** A digital input changed: clock source, clock value, input number, new
 * state. */
typedef void (*VexaDigInEventHandler)(int clockSource, int clockValue, int input, bool state);

/** @name Connection */
/** @{ */

/** Sends the library's log (the process's standard output) to
 * "vexa_logs_file.txt" in the working directory, emptied, unbuffered.
 * @return a number from 0 to 99 that carries no meaning. */
VEXA_UNITY_API int WelcomeFunction(void);

/** Connects to the device at path and makes it the current device,
 * releasing the earlier one only once the new one is connected; a running
 * loop on the earlier device is interrupted and awaited first.
 * Paths: "COM7" or "COM/dev/ttyUSB0" (serial), "BTHXX:XX:XX:XX:XX:XX"
 * (Bluetooth classic), "BLEXX:XX:XX:XX:XX:XX" (BLE dongle), "USBn" (USB),
 * and "SIM", "SIM:cadrium", "SIM:quillbox" for the built-in simulated device
 * (after the family, more of the simulator's options may follow:
 * "SIM:current --description FernlitVexa").
 * Takes about a second (the version handshake).
 * Reports 1 (port or device failure), 2 (invalid call, null path), 3, -1;
 * after a failure the earlier device stays current. */
VEXA_UNITY_API void VexaDevUnity(const char* path);

/** Stops a running acquisition, closes the connection and forgets the
 * device; a loop running on another thread is interrupted and awaited
 * first. Does nothing without a device, or from inside the loop's own
 * handlers. Never reports. */
VEXA_UNITY_API void DisconnectVexaDevUnity(void);
/** @} */

/** @name Handlers
 * Each stores its pointer (null clears the slot, and a null slot is
 * skipped); any thread, any time, also while a loop runs. The host keeps
 * the functions alive while they are set. */
/** @{ */
/** Sets the handler of the devices a scan finds. */
VEXA_UNITY_API void SetNewDeviceFoundHandler(VexaNewDeviceFoundHandler handler);
/** Sets the handler of sample instants. */
VEXA_UNITY_API void SetOnRawDataHandler(VexaRawDataHandler handler);
/** Sets the handler of failure reports. */
VEXA_UNITY_API void SetOnExceptionRaisedHandler(VexaExceptionRaisedHandler handler);
/** Sets the disconnect and digital-input handlers together. */
VEXA_UNITY_API void SetOnEventDetectedHandlers(VexaDisconnectEventHandler disconnect, VexaDigInEventHandler digIn);
/** @} */

/** @name Forwarders
 * Each calls its handler with its arguments unchanged (a null slot is
 * skipped); the library itself never calls them. */
/** @{ */
/** Calls the new-device handler. */
VEXA_UNITY_API void OnNewDeviceFound(const char* path);
/** Calls the exception handler. */
VEXA_UNITY_API void OnExceptionRaised(int code, const char* message);
/** Calls the disconnect handler. */
VEXA_UNITY_API void OnDisconnectEventDetected(int reason);
/** Calls the digital-input handler; passes only the lowest byte of state
 * on. */
VEXA_UNITY_API void OnDigInEventDetected(int clockSource, int clockValue, int input, bool state);
#ifdef __cplusplus
/** Calls the raw-data handler with channels.size() as the channel count.
 * Takes a C++ list by value, so only C++ hosts built with the same compiler
 * can call it. */
VEXA_UNITY_API void OnDataReceived(int nSeq, const int* samples, std::vector<int> channels);
#endif
/** @} */

/** @name Acquisition
 * Every start needs a connected device (else an error report) and reports
 * a device that refuses the set-up as a notification or error with its own
 * codes. */
/** @{ */

/** Starts the channels marked '1' in channels: one character per port from
 * port 1 ("101" acquires ports 1 and 3), at baseFreq Hz with nBits-bit
 * samples. Reports 13 (device), 14 (invalid call: no device, null text,
 * unsupported set-up), 15, -1. */
VEXA_UNITY_API void StartAcquisition(int baseFreq, const char* channels, int nBits);
/** Starts the ports whose bits are set in channelMask (bit 0: port 1).
 * Reports 5, 6, 7, -1. */
VEXA_UNITY_API void StartAcquisitionByNbr(int baseFreq, int channelMask, int nBits);
/** Starts nSources explicit sources; sources is read during the call only.
 * Reports 9, 10, 11, -1. */
VEXA_UNITY_API void StartAcquisitionBySources(int baseFreq, const VexaSource* sources, int nSources);
/** Starts port 1 alone, sampled at channelFreq Hz of a baseFreq Hz clock.
 * The second argument is not used. Reports 17, 18 (also channelFreq 0),
 * 19, -1. */
VEXA_UNITY_API void StartAcquisitionStrandelo(int baseFreq, int ignored, int nBits, int channelFreq);
/** Runs the device loop on the calling thread until a handler's call ends
 * it, InterruptAcquisition is called, or the link fails. Every frame and
 * event handler runs on this thread. A failure of the library is reported
 * as code 21 with the bare description and no line in the log file; 24 and
 * -1 as usual. A second StartLoop while one runs is refused with 21. */
VEXA_UNITY_API void StartLoop(void);
/** Ends a running loop from another thread; StartLoop then returns. Waits
 * until the loop takes the request; does nothing when no loop runs or when
 * called from the loop's own handlers. Never reports. */
VEXA_UNITY_API void InterruptAcquisition(void);
/** Stops the acquisition. Does nothing without a device or when the device
 * no longer answers. Never reports. */
VEXA_UNITY_API void StopAcquisition(void);
/** @} */

/** @name Queries */
/** @{ */

/** Scans one kind of link ("BTH", "BLE", "USB", any letter case; "" or null
 * for all) and calls the new-device handler once per device found, on the
 * calling thread. A Bluetooth scan takes several seconds. Reports 26, 27, 28, -1. */
VEXA_UNITY_API void GetDetectableDevices(const char* domain);
/** Scans every kind of link; a failed scan finds nothing. Never reports. */
VEXA_UNITY_API void GetAllDetectableDevices(void);
/** The device's product identifier; 0 after a report (30, 31, 32, -1). */
VEXA_UNITY_API int GetProductId(void);
/** The device family's name: "tessarimodular", "Quillbox",
 * "Strandelo QZ Vexa", "FernlitVexa", "Cadrium", "Not supported device" or
 * "undefined_device"; "" after a report (34, 35, 36, -1). Static text:
 * never free it. */
VEXA_UNITY_API const char* GetDeviceType(void);
/** Battery charge in percent, or -1 when there is no device or no reading.
 * Never reports. */
VEXA_UNITY_API int GetBattery(void);
/** Channels of the current acquisition; 0 without one. */
VEXA_UNITY_API int GetNbrChannels(void);
/** True from a start until an interrupt ends the loop. */
VEXA_UNITY_API bool GetCommunicationFlag(void);
/** Writes a sensor parameter: dataType 1 sends data[0] for index 1 to 3,
 * dataType 2 sends data[0] and data[1] for index 3. Reports 38, 39, 40
 * (also an unsupported combination), -1. */
VEXA_UNITY_API void SetParameter(int port, int index, const int* data, int dataType);
/** @} */

#ifndef VEXA_UNITY_BUILDING
/** The current device object (opaque to hosts); null when none. */
extern VEXA_UNITY_API void* vexaDev;
#endif

/** @name Extension: failure details, the debug log, the version
 * Added to the interface above; every name starts with VexaExt. */
/** @{ */

/** The cause of the last failure reported on the calling thread, as the
 * system gave it ("open /dev/ttyUSB0: Permission denied (errno 13); ..."),
 * or "" when it had none. Set before the exception handler is called, so
 * the handler can read it too. Valid until the next failure on this
 * thread. */
VEXA_UNITY_API const char* VexaExtGetLastErrorDetail(void);

/** Levels of the debug log. */
enum {
  VEXA_EXT_LOG_OFF = 0,
  VEXA_EXT_LOG_ERROR = 1,
  VEXA_EXT_LOG_WARNING = 2,
  VEXA_EXT_LOG_INFO = 3,
  VEXA_EXT_LOG_DEBUG = 4
};
/** One debug-log message; it may arrive on any of the library's threads,
 * and message is valid only during the call. */
typedef void (*VexaExtLogHandler)(int level, const char* message);
/** Sends the library's debug log from VEXA_EXT_LOG_ERROR up to maxLevel to
 * handler; null or VEXA_EXT_LOG_OFF turns it off (the default). Any thread,
 * any time. */
VEXA_UNITY_API void VexaExtSetLogHandler(VexaExtLogHandler handler, int maxLevel);

/** The library's version, "major.minor.patch". Static text. */
VEXA_UNITY_API const char* VexaExtGetVersion(void);
/** @} */

/** @name Extension: the sample ring
 * While it is on, the loop thread also keeps every sample instant (its tick
 * and as many samples as the raw-data handler's channel count) in a
 * bounded ring that the host drains with VexaExtReadSamples from any one
 * other thread, with no call per instant; the raw-data handler, if set, is
 * still called for every instant. Each start empties the ring, takes the
 * new channel count and zeroes the overflow count. When the ring is full,
 * the newest instants are dropped (the oldest stay) and counted; the first
 * drop of an acquisition is reported once, on the loop's thread, through
 * the exception handler with code VEXA_EXT_SAMPLE_RING_OVERFLOW and the text
 * "The sample ring overflowed: sample instants were dropped.", and as a
 * warning in the debug log. */
/** @{ */

/** The code of the sample ring's overflow report. */
#define VEXA_EXT_SAMPLE_RING_OVERFLOW 100

/** Turns the ring on (it is off until then). capacityInstants <= 0 sizes it
 * at each start for 10 s at the base frequency (base frequency x 10
 * instants); a positive value is the number of instants, cut to what 1 GiB
 * holds. A ring turned on while an acquisition runs starts filling at once;
 * one already on keeps its waiting instants and takes the new capacity from
 * the next start. Memory is taken at the start, never per instant; when it
 * cannot be had, every instant is dropped and reported as an overflow. */
VEXA_UNITY_API void VexaExtEnableSampleRing(int capacityInstants);
/** Turns the ring off and frees it; waiting instants are dropped. */
VEXA_UNITY_API void VexaExtDisableSampleRing(void);
/** Copies the oldest waiting instants, at most maxInstants of them and at
 * most maxSamples / channels (see VexaExtGetSampleRingChannels): instant i
 * has its tick in ticks[i] (as the raw-data handler got it: the low 32 bits
 * of VexaExtReadBlock's tick) and its samples in samples[i * channels] to
 * samples[i * channels + channels - 1]. Never blocks on the loop.
 * @return the number of instants copied, 0 when none waits or the ring is
 * off, -1 for a null buffer or a negative size. */
VEXA_UNITY_API int VexaExtReadSamples(int* ticks, int maxInstants, int* samples, int maxSamples);
/** The samples per instant of the ring's current acquisition (the last
 * start's); 0 before any start. */
VEXA_UNITY_API int VexaExtGetSampleRingChannels(void);
/** The instants dropped because the ring was full, since the last start. */
VEXA_UNITY_API long long VexaExtGetSampleRingOverflow(void);
/** @} */

/** @name Extension: recording
 * Writes the running acquisition to a file while it runs, on a thread of
 * its own, so that the loop never waits for the disk: every sample instant
 * (its samples as the raw-data handler gets them), the digital-input and
 * disconnect events, and the host's markers. The file's header describes
 * the recording: device type, product identifier, firmware, connection
 * path, start time, base frequency, and per channel its port, channel
 * index, divisor and bits, with the label, unit and physical range that
 * VexaExtDescribeRecordingChannel gave it. Ticks the device skipped are
 * filled, so that time in the file stays true, and every filled span has a
 * note starting with "BAD_" (its onset and duration) that analysis tools
 * use to leave it out. A BDF+ file holds the recorded instants and no more:
 * its last data record is padded (noted as "BAD_padding"), notes that do
 * not fit a record go into the next ones, and a data record stays under
 * 10 MB at any rate. The file counts
 * ticks in 64 bits: the raw-data handler's tick wraps after 2^31, the
 * recording's does not.
 *
 * A recording ends, its file completed, with VexaExtStopRecording, and also
 * by itself when the acquisition ends: a disconnect event, StopAcquisition,
 * a new start, or the device's release (DisconnectVexaDevUnity, or a new
 * VexaDevUnity). The next VexaExtStopRecording then returns that ending's
 * outcome. Stop or disconnect before the plug-in is unloaded: a recording
 * still running when the process ends keeps only what was written by then.
 *
 * Each returns 0, or -1 with the cause as the calling thread's last failure
 * detail (VexaExtGetLastErrorDetail). None calls the exception handler; a
 * failure to write the file (a full disk, a lost drive) is reported once,
 * as soon as the loop's next sample instant notices it, on the loop's
 * thread, through the exception handler with code VEXA_EXT_RECORDING_FAILED
 * and the text "The recording could not be written: " followed by the
 * system's cause (also the thread's last failure detail). The recording then
 * takes no more instants or markers, and VexaExtStopRecording returns -1
 * with that text as its detail. */
/** @{ */

/** The code of the report of a recording that could not be written. */
#define VEXA_EXT_RECORDING_FAILED 101

/** Describes the channel at position (0 for the first sample the raw-data
 * handler gets) for the next VexaExtStartRecording, which uses up every
 * description given since the last start. label (16 characters at most;
 * null or "" keeps "Port P Ch C") and unit (8 at most, such as "uV"; null
 * or "" leaves it blank) are printable ASCII. physicalMin and physicalMax
 * are the physical values of the ends of the channel's digital range; both
 * 0 keep the digital values themselves, otherwise they must differ. A
 * second call for a position replaces the first; all defaults clear it.
 * Any thread. Fails (-1) for a position outside 0 to 511, a text that is
 * not printable ASCII or too long, or a range that is not finite or empty;
 * the start fails for a position beyond the acquisition's channels. */
VEXA_UNITY_API int VexaExtDescribeRecordingChannel(int position, const char* label, const char* unit,
                                                   double physicalMin, double physicalMax);
/** Sets who was recorded (subject) and free text about the recording
 * (note) for the next VexaExtStartRecording, which uses them up: printable
 * ASCII, 80 characters at most each; null or "" for none. Any thread.
 * Fails (-1) for a text that is not printable ASCII or too long. */
VEXA_UNITY_API int VexaExtDescribeRecording(const char* subject, const char* note);
/** Starts recording the running acquisition from its next sample instant
 * to path: a BDF+ file when path ends in ".bdf", a CSV text when it ends in
 * ".csv" (any letter case); an existing file is replaced. Call it after a
 * start export, also while the loop runs. Fails (-1) for a null or empty
 * path, another extension, no device, no running acquisition, a recording
 * already running, a channel described beyond the acquisition's, or a file
 * that cannot be created. */
VEXA_UNITY_API int VexaExtStartRecording(const char* path);
/** Finishes the recording: writes what is still queued, completes the
 * header and closes the file. Fails (-1) when nothing was recording, or
 * when the file could not be written (the detail says why). */
VEXA_UNITY_API int VexaExtStopRecording(void);
/** Adds a marker (a game event). From the raw-data handler it lands on that
 * handler's instant; from any other thread it is stamped with the host time
 * of the call (VexaExtGetHostTime) and lands on the instant the device
 * sampled nearest that time, waiting for it if it has not arrived yet.
 * text is UTF-8; control characters become blanks in a BDF+ file. Any
 * thread. Fails (-1) for a null text, when nothing is
 * recording, when the recording stopped taking instants, or when too many
 * markers already wait to be written (the host adds them faster than the
 * file takes them). */
VEXA_UNITY_API int VexaExtAddMarker(const char* text);
/** @} */

/** @name Extension: reading with its layout, cancelling
 * A read of the sample ring that says the layout its instants were packed
 * with, the layout of the running acquisition, and the end of a scan or a
 * connect in progress. Calls that take a session act on session 0, the
 * interface's current device (and the ring of VexaExtEnableSampleRing), or
 * on a session of VexaExtOpen (its own ring, always on).
 * Every acquisition has a number: 1 for the first start in the process, +1
 * at every start, whether the ring is on or off. */
/** @{ */

/** Negative results of the extension calls that return a code. The cause is
 * also the calling thread's last failure detail (VexaExtGetLastErrorDetail);
 * none calls the exception handler. */
/** A null buffer or a negative size. */
#define VEXA_EXT_ERR_ARGUMENT (-2)
/** Room for less than one instant. */
#define VEXA_EXT_ERR_BUFFER_TOO_SMALL (-3)
/** An unknown or closed session: one VexaExtOpen never gave, or one
 * closed since. */
#define VEXA_EXT_ERR_SESSION (-4)
/** The call does not fit the state: the ring is off, a session's loop runs
 * or no acquisition does. */
#define VEXA_EXT_ERR_STATE (-5)

/** Copies the oldest waiting instants of a session's ring, all of one
 * acquisition: instant i has its tick in ticks[i], as a 64-bit count that
 * never wraps (the raw-data handler's tick, counted on from the
 * acquisition's first tick by its 32-bit steps, so VexaExtReadSamples and
 * the handler get its low 32 bits), and its samples in
 * samples[i * channels] to samples[i * channels + channels - 1]. times may
 * be null; otherwise times[i] gets the moment the device sampled instant i,
 * in seconds on the host's clock (VexaExtGetHostTime), from the device's
 * time fit as it stands at this read (it settles over the first seconds of
 * an acquisition, so a read's first time may lie a little before the
 * previous read's last), or NaN when the device that acquired it is gone
 * or its fit has no arrival yet. Copies at most maxInstants instants and at most
 * maxSamples / channels.
 *
 * Writes *channels and *acquisition (either may be null): the channel count
 * the instants were packed with and the number of the acquisition they
 * belong to, read under the same lock as the data, so a start between two
 * reads never mixes layouts. A start empties the ring: what still waited of
 * the earlier acquisition is dropped, and a read returns instants of one
 * acquisition only. Both are also written with VEXA_EXT_ERR_BUFFER_TOO_SMALL,
 * so that the caller can size its buffers. Never blocks on the loop; any one
 * reader thread.
 * @return the number of instants copied (0: none waits), or
 * VEXA_EXT_ERR_ARGUMENT (null ticks or samples, a negative size),
 * VEXA_EXT_ERR_SESSION, VEXA_EXT_ERR_STATE (the ring is off),
 * VEXA_EXT_ERR_BUFFER_TOO_SMALL (maxInstants < 1, or maxSamples less than
 * the channels of the waiting acquisition, even when nothing waits). */
VEXA_UNITY_API int VexaExtReadBlock(int session, long long* ticks, double* times, int maxInstants, int* samples,
                                    int maxSamples, int* channels, int* acquisition);

/** One channel of an acquisition. */
typedef struct VexaExtChannelLayout {
  int port;    /**< port number, as the start named it */
  int index;   /**< channel index on the port, from 0 */
  int bits;    /**< bits of its samples */
  int divisor; /**< sampled on every divisor-th tick of the base frequency */
} VexaExtChannelLayout;

/** The layout of the session's running (or last started) acquisition: per
 * channel, in the order of the samples of an instant, its port, channel
 * index on the port, bits and divisor. Fills min(count, maxChannels)
 * entries of layout and writes *acquisition (may be null) with the
 * acquisition's number. Any thread.
 * @return the channel count (0 before any start), or VEXA_EXT_ERR_ARGUMENT
 * (a negative maxChannels, a null layout with maxChannels > 0),
 * VEXA_EXT_ERR_SESSION. */
VEXA_UNITY_API int VexaExtGetAcquisitionLayout(int session, VexaExtChannelLayout* layout, int maxChannels,
                                               int* acquisition);

/** Ends a scan (GetDetectableDevices, GetAllDetectableDevices) or a connect
 * (VexaDevUnity or VexaExtOpen, the handshake included) that runs on another
 * thread, early: it returns within about 100 ms. Any thread, any time; does
 * nothing when none runs (a cancel never carries over to a later call). The
 * cancelled call reports nothing (no exception handler, no device-found
 * handler; its thread's last failure detail reads "cancelled"), a cancelled
 * connect leaves the earlier device current, and a cancelled VexaExtOpen
 * returns VEXA_EXT_ERR_LINK with no session open. */
VEXA_UNITY_API void VexaExtCancel(void);

/** @} */

/** @name Extension: the host clock
 * Every sample instant and every marker is timed in seconds on one clock of
 * the host: monotonic (QueryPerformanceCounter on Windows, CLOCK_MONOTONIC
 * on Linux), from an unspecified origin, the same for every thread and
 * process. An instant's time is the moment the device sampled it, estimated
 * from the arrival times of the device's messages: a line whose slope
 * follows the device clock's drift (measured along the earliest arrivals
 * and, while the link's longest usual delay holds still, along the latest)
 * and which runs through the earliest arrivals, so the link's varying
 * delay, bursts and late messages do not move it. It restarts at every
 * start; lost instants get times on the same line. */
/** @{ */

/** Seconds on the host's clock, now. Any thread. */
VEXA_UNITY_API double VexaExtGetHostTime(void);
/** The host time at which the device sampled the instant the raw-data
 * handler is being handed, when called from that handler; elsewhere that of
 * the last instant delivered. NaN before the first instant of the current
 * device's acquisition, and without a device. Any thread. */
VEXA_UNITY_API double VexaExtGetInstantTime(void);
/** Sets the part of every message's delay that no host can see, in
 * seconds: the link's constant latency and the device's own filter delay,
 * measured once per link (with a light sensor or a pulse on a digital
 * input). Instant times come that much earlier. 0 by default. Applies to
 * the current device at once and to every device connected later. Any
 * thread.
 * @return 0, or VEXA_EXT_ERR_ARGUMENT for a value not finite or negative
 * (the delay is then left as it was). */
VEXA_UNITY_API int VexaExtSetLinkDelay(double seconds);
/** Adds a marker, as VexaExtAddMarker does, at the instant whose host time
 * is nearest hostTime (seconds of VexaExtGetHostTime): for an event timed
 * earlier, such as a frame's presentation. An instant not yet delivered is
 * waited for. Any thread. Fails (-1) as VexaExtAddMarker, and for a
 * hostTime that is not a finite number. */
VEXA_UNITY_API int VexaExtAddMarkerAt(const char* text, double hostTime);

/** @} */

/** @name Extension: the wire trace
 * Writes the bytes the current device's link carries (the device protocol
 * itself, whatever the link) to a text file while the device is used, for
 * finding faults: a header, then one line per chunk with its time in
 * seconds since the trace started, "out" (to the device) or "in" (from it)
 * and the bytes in hexadecimal:
 *
 *     # vexa wire trace 1
 *     # link: serial
 *     # family: current
 *     # library: 1.1.0
 *     # start: 2026-12-07T12:00:00.123Z
 *     0.000412 out aa020300e8
 *     0.003150 in 00
 *
 * The link kind is one of "serial", "bluetooth", "ble", "usb", "sim"; the
 * family one of "oldest", "current", "current-paced", "compact-board",
 * "current-scaled". A thread of the library writes the file, so the loop
 * never waits for the disk. After 64 MiB of traced bytes the line
 * "# limit reached: 67108864 bytes; nothing more is traced" ends it (also
 * in the debug log). A trace ends with VexaExtStopTrace or with its device
 * (DisconnectVexaDevUnity, a new VexaDevUnity), which closes the file. Any
 * thread. */
/** @{ */

/** Starts tracing the current device's link to path (UTF-8; an existing
 * file is replaced).
 * @return 0, or VEXA_EXT_ERR_ARGUMENT (a null or empty path, a file that
 * cannot be created) or VEXA_EXT_ERR_STATE (no device, a trace already
 * running), with the cause as the calling thread's last failure detail. */
VEXA_UNITY_API int VexaExtStartTrace(const char* path);
/** Ends the trace: writes what waits and closes the file.
 * @return 0, VEXA_EXT_ERR_STATE (no trace runs on the current device), or
 * -1 when the file could not be written in full (the detail says why). */
VEXA_UNITY_API int VexaExtStopTrace(void);

/** @} */

/** @name Extension: sessions
 * A session is one connected device with everything that belongs to it: its
 * acquisition, its sample ring (always on, sized as the default ring: 10 s
 * at the base frequency), its recording, its instant times (from its own
 * fit, on the one host clock; VexaExtSetLinkDelay applies to every session)
 * and its events. Several sessions acquire at once, beside the interface's
 * current device, each from a device of its own: every "SIM" path opens a
 * simulated device of its own, while a link already open in this process
 * (under any spelling of its path: "COM7" and "com7" are one port) is
 * refused.
 *
 * **Threads.** VexaExtRun runs a session's loop on a thread of the library,
 * one per session; the host never blocks in a loop. The session's event
 * handler runs on that thread. Any host thread may call any session export
 * at any time, also while another thread closes the session: a call that
 * finds it closed returns VEXA_EXT_ERR_SESSION. The commands that talk to
 * the device (starts, stop, parameter, battery) are refused with
 * VEXA_EXT_ERR_STATE while the loop runs, except from the session's own
 * handler; VexaExtStop ends the loop first. The calls that wait for a
 * loop to end (VexaExtClose, VexaExtHalt, VexaExtStop, and the interface's
 * VexaDevUnity, DisconnectVexaDevUnity and StopAcquisition) are refused,
 * VEXA_EXT_ERR_STATE here, when made from another loop's handler (another
 * session's, or the interface's in StartLoop) while that loop runs: its
 * handler could be waiting for the caller's loop in turn, and both would
 * hang.
 *
 * **Results.** Every call returns 0 (or its result) or one of the negative
 * codes VEXA_EXT_ERR_*, with the cause as the calling thread's last failure
 * detail (VexaExtGetLastErrorDetail); none calls the exception handler.
 * Handles are greater than 0 and never given out twice in a process; a call
 * with an unknown or closed handle touches nothing. */
/** @{ */

/** The device refused: a start or a parameter it cannot do, no battery
 * reading. */
#define VEXA_EXT_ERR_DEVICE (-6)
/** The link could not be opened or failed; no device answered. */
#define VEXA_EXT_ERR_LINK (-7)
/** The link is open already in this process, or no BLE dongle is free. */
#define VEXA_EXT_ERR_IN_USE (-8)
/** Called on the session's own thread (its handler) where it would wait for
 * that thread: a close, a halt or a run. */
#define VEXA_EXT_ERR_OWN_THREAD (-9)

/** Connects to the device at path (any path VexaDevUnity takes) as a new
 * session. Takes about a second; other sessions go on meanwhile, and
 * VexaExtCancel from another thread ends it early.
 * @return the session's handle (> 0), or VEXA_EXT_ERR_ARGUMENT (a null or
 * empty path), VEXA_EXT_ERR_LINK, VEXA_EXT_ERR_IN_USE, VEXA_EXT_ERR_DEVICE
 * (a product that cannot acquire), VEXA_EXT_ERR_STATE (every handle given
 * out). */
VEXA_UNITY_API int VexaExtOpen(const char* path);
/** Halts the session's loop, ends its recording, stops its acquisition and
 * disconnects, in that order, and forgets the handle. Waits for the loop's
 * thread.
 * @return 0, VEXA_EXT_ERR_SESSION, VEXA_EXT_ERR_OWN_THREAD (from its own
 * handler; the session stays open), VEXA_EXT_ERR_STATE (from another loop's
 * handler while this loop runs; the session stays open). */
VEXA_UNITY_API int VexaExtClose(int session);
/** Starts the ports whose bits are set in channelMask (bit 0: port 1), one
 * channel each, as StartAcquisitionByNbr does. Empties the ring and ends a
 * recording of the earlier acquisition.
 * @return 0, VEXA_EXT_ERR_SESSION, VEXA_EXT_ERR_STATE (the loop runs, an
 * acquisition runs), VEXA_EXT_ERR_ARGUMENT (a set-up the device does not
 * take), VEXA_EXT_ERR_DEVICE, VEXA_EXT_ERR_LINK. */
VEXA_UNITY_API int VexaExtStartByMask(int session, int baseFreq, int channelMask, int nBits);
/** Starts nSources explicit sources, as StartAcquisitionBySources does;
 * sources is read during the call only. Results as VexaExtStartByMask's;
 * VEXA_EXT_ERR_ARGUMENT also for a null sources with nSources > 0. */
VEXA_UNITY_API int VexaExtStartBySources(int session, int baseFreq, const VexaSource* sources, int nSources);
/** Ends the loop (its VEXA_EXT_EVENT_LOOP_ENDED has code 1), ends the
 * recording and stops the acquisition. From the session's own handler the
 * loop ends once the handler returns.
 * @return 0, VEXA_EXT_ERR_SESSION, VEXA_EXT_ERR_STATE (no acquisition
 * runs; from another loop's handler while this loop runs),
 * VEXA_EXT_ERR_DEVICE, VEXA_EXT_ERR_LINK. */
VEXA_UNITY_API int VexaExtStop(int session);
/** Runs the session's loop on a thread of the library until VexaExtHalt,
 * VexaExtStop, a lost link (a disconnect, 2 s without data, a failure) or
 * VexaExtClose; returns at once. Instants go to the session's ring (and its
 * recording), events to its handler or queue.
 * @return 0, VEXA_EXT_ERR_SESSION, VEXA_EXT_ERR_STATE (the loop runs
 * already, no acquisition runs), VEXA_EXT_ERR_OWN_THREAD. */
VEXA_UNITY_API int VexaExtRun(int session);
/** Ends the session's loop and waits for its thread; 0 also when no loop
 * runs.
 * @return 0, VEXA_EXT_ERR_SESSION, VEXA_EXT_ERR_OWN_THREAD (from its own
 * handler, where it would wait for itself), VEXA_EXT_ERR_STATE (from
 * another loop's handler while this loop runs). */
VEXA_UNITY_API int VexaExtHalt(int session);
/** Writes a sensor parameter, with SetParameter's data forms.
 * @return 0, VEXA_EXT_ERR_SESSION, VEXA_EXT_ERR_STATE (the loop runs),
 * VEXA_EXT_ERR_ARGUMENT (an unsupported combination, a null data),
 * VEXA_EXT_ERR_DEVICE, VEXA_EXT_ERR_LINK. */
VEXA_UNITY_API int VexaExtSetSessionParameter(int session, int port, int index, const int* data, int dataType);
/** The battery charge in percent (0 to 100), or VEXA_EXT_ERR_SESSION,
 * VEXA_EXT_ERR_STATE (the loop runs), VEXA_EXT_ERR_DEVICE (no reading),
 * VEXA_EXT_ERR_LINK. */
VEXA_UNITY_API int VexaExtGetSessionBattery(int session);
/** Writes the device's product identifier to *productId.
 * @return 0, VEXA_EXT_ERR_ARGUMENT (null), VEXA_EXT_ERR_SESSION. */
VEXA_UNITY_API int VexaExtGetSessionProductId(int session, int* productId);
/** Writes the device family's name to *type: static text, as GetDeviceType
 * returns it.
 * @return 0, VEXA_EXT_ERR_ARGUMENT (null), VEXA_EXT_ERR_SESSION. */
VEXA_UNITY_API int VexaExtGetSessionDeviceType(int session, const char** type);

/* Kinds of session events. */
/** The device reported a disconnect (code: its reason), or 2 s passed
 * without data (code 1); the loop ends. */
#define VEXA_EXT_EVENT_DISCONNECT 1
/** A digital input changed: code the input's number, value its new state (0
 * or 1), clockSource and clockValue the device's stamp; tick and time name
 * its instant when the clock is the acquisition's tick (clock source 2). */
#define VEXA_EXT_EVENT_DIGITAL_INPUT 2
/** A failure: code and text as the exception handler would get them (21
 * for the loop's failures, VEXA_EXT_RECORDING_FAILED for the recording's). */
#define VEXA_EXT_EVENT_FAILURE 3
/** Something was dropped. Code 0: the ring was full; count is the instants
 * it dropped so far in this acquisition (told at the first drop and each
 * time the count doubles). Code 1: the event queue was full; count is the
 * events dropped since the last read (always the first event of a read). */
#define VEXA_EXT_EVENT_OVERFLOW 4
/** The loop ended; code says why: 0 a halt or close, 1 a stop, 2 a lost
 * link (after a disconnect or a failure event). */
#define VEXA_EXT_EVENT_LOOP_ENDED 5

/** One event of a session. */
typedef struct VexaExtEvent {
  int session;             /**< the session's handle */
  int kind;                /**< VEXA_EXT_EVENT_* */
  int code;                /**< as the kind says */
  int value;               /**< as the kind says */
  int clockSource;         /**< of a digital input */
  unsigned int clockValue; /**< of a digital input */
  long long tick;          /**< the instant's 64-bit tick, as VexaExtReadBlock gives it, or -1 */
  double time;             /**< host time of the instant when tick >= 0, else of the event's taking */
  long long count;         /**< as the kind says */
  char text[256];          /**< NUL-terminated, cut to fit */
} VexaExtEvent;

/** Copies the oldest waiting events, at most maxEvents. The queue holds the
 * 256 newest; when it drops older ones, the next read starts with an
 * overflow event of code 1 saying how many. Events go to the handler
 * instead while one is set.
 * @return the number copied, or VEXA_EXT_ERR_ARGUMENT (a negative
 * maxEvents, a null events with maxEvents > 0), VEXA_EXT_ERR_SESSION. */
VEXA_UNITY_API int VexaExtReadEvents(int session, VexaExtEvent* events, int maxEvents);
/** One event; called on the session's own thread, event valid during the
 * call only. It may call the session's exports, except VexaExtClose,
 * VexaExtHalt and VexaExtRun on its own session. */
typedef void (*VexaExtEventHandler)(const VexaExtEvent* event);
/** Sets the session's event handler; null queues the events for
 * VexaExtReadEvents again. Any thread; the host keeps the function alive
 * while it is set.
 * @return 0, VEXA_EXT_ERR_SESSION. */
VEXA_UNITY_API int VexaExtSetEventHandler(int session, VexaExtEventHandler handler);

/** Starts recording the session's acquisition to path, as
 * VexaExtStartRecording does for the current device (.bdf or .csv, also
 * while the loop runs). A recording ends with VexaExtStopSessionRecording,
 * a stop, a new start, a disconnect or the close.
 * @return 0, VEXA_EXT_ERR_SESSION, VEXA_EXT_ERR_ARGUMENT (a null, empty or
 * unusable path), VEXA_EXT_ERR_STATE (no acquisition runs, a recording runs
 * already). */
VEXA_UNITY_API int VexaExtStartSessionRecording(int session, const char* path);
/** Finishes the session's recording.
 * @return 0, VEXA_EXT_ERR_SESSION, VEXA_EXT_ERR_STATE (nothing was
 * recording, or the file could not be written: the detail says why). */
VEXA_UNITY_API int VexaExtStopSessionRecording(int session);
/** Adds a marker at the instant whose host time is nearest hostTime
 * (seconds of VexaExtGetHostTime), waiting for an instant not yet
 * delivered. Session 0 marks every running recording, the current device's
 * included, each at its own nearest instant.
 * @return 0, VEXA_EXT_ERR_ARGUMENT (a null text, a hostTime not finite),
 * VEXA_EXT_ERR_SESSION, VEXA_EXT_ERR_STATE (nothing records, the recording
 * stopped taking instants, too many markers wait). With session 0, the
 * first failure of any recording, after every other one was marked. */
VEXA_UNITY_API int VexaExtAddSessionMarker(int session, const char* text, double hostTime);

/** @} */

#ifdef __cplusplus
}
#endif

#endif /* VEXA_UNITY_INTERFACE_H_ */

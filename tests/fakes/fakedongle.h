#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

struct hid_device_;
struct hid_device_info;

// A scriptable stand-in for the presenter's dongle and the HID library in front of it.
// fakehidapi.cpp implements hidapi's C functions on top of it, so code written against
// hidapi talks to this dongle when linked with fake_hidapi (tests) or preloaded in front of
// the real library. Plain C++17 and thread-safe: the device thread calls the C functions
// while a test or a controlling program scripts the dongle from another thread.
//
// The C functions serve the dongle that was constructed last and still lives ("current");
// with none alive they behave as a system without the dongle.
namespace fakehid {

constexpr unsigned short DongleVendorId = 0x7045;
constexpr unsigned short DongleProductId = 0x1820;

// The hidapi calls the fake serves, and Note for marks written into the call log.
enum class Call : int {
    Init,
    Exit,
    Enumerate,
    FreeEnumeration,
    Open,
    OpenPath,
    Close,
    GetFeatureReport,
    SendFeatureReport,
    Note,
};
constexpr int CallKinds = static_cast<int>(Call::Note) + 1;
const char *callName(Call call);

// One entry of the system's HID enumeration (one top-level collection).
struct Interface
{
    std::string path;
    unsigned short vendorId = DongleVendorId;
    unsigned short productId = DongleProductId;
    unsigned short usagePage = 0xFF00;
    unsigned short usage = 0x0001;
    int interfaceNumber = 0;
    std::wstring serial;
    // This collection answers the key report 0x12. A handle opened on a path answers when
    // any entry with that path does (hidraw opens a whole interface).
    bool answersPoll = false;
};

// Ready-made enumerations of the dongle. The key collection is the fourth top-level
// collection of interface 1 in both.
// Windows form: five collections of interface 1, each its own path ending in "&col0N".
std::vector<Interface> windowsDongle();
// hidraw form: interface 0 as /dev/hidraw2 (one collection), interface 1 as /dev/hidraw3
// listed once per collection (four times), same path each time.
std::vector<Interface> linuxDongle();

// What one hid_get_feature_report returns.
struct ReadAnswer
{
    int result = 64;                  // the call's result (clamped to the caller's length)
    std::vector<unsigned char> bytes; // copied to the caller's buffer (clamped likewise)

    static ReadAnswer keyEvent(unsigned char keyByte, int result = 64); // FE key 00 ...
    static ReadAnswer noEvent(int result = 64);                         // 12 00 00 ...
    static ReadAnswer failure();                                        // -1
    static ReadAnswer shortRead(int result);                            // 0, 1, ...
};

struct LogEntry
{
    Call call = Call::Note;
    int handle = 0;   // handle number (1, 2, ... in order of opening), 0 for none
    int result = 0;   // count, -1, entries enumerated, or for opens the new handle's number
    int reportId = 0; // byte 0 of the buffer handed to a feature-report call
    std::size_t length = 0;
    // Path of an open, text of a note, first bytes (hex) of a read's answer or of a write.
    std::string text;
    std::chrono::steady_clock::time_point time;
};
// A short readable form: "open_path /dev/hidraw3 -> #1", "get_feature #1 12/64 -> 64 [fe10]"
std::string toString(const LogEntry &entry);

struct FeatureWrite
{
    int handle = 0;
    int result = 0;
    std::vector<unsigned char> bytes;
};

class FakeDongle final
{
public:
    // Becomes the current dongle, plugged in with the given interfaces.
    explicit FakeDongle(std::vector<Interface> interfaces = linuxDongle(), bool plugged = true);
    // The previous dongle (if any) becomes current again. Handles opened on this one stay
    // valid memory; calls on them behave as on an unplugged dongle.
    ~FakeDongle();
    FakeDongle(const FakeDongle &) = delete;
    FakeDongle &operator=(const FakeDongle &) = delete;

    // --- The system's devices
    void setInterfaces(std::vector<Interface> interfaces);
    // Other HID devices, always present, listed before the dongle.
    void setOtherDevices(std::vector<Interface> devices);
    // Plugging in makes the dongle enumerable and openable. Pulling it out makes every
    // handle opened so far dead for good (calls return -1), as a re-plugged dongle comes
    // back as a new device node.
    void plug();
    void unplug();
    bool isPlugged() const;
    // Present but not openable, as without access rights to the device node.
    void setOpenRefused(bool refused);

    // --- Answers
    void queueRead(ReadAnswer answer);
    void queueReads(const std::vector<ReadAnswer> &answers);
    // The answer whenever the queue is empty (initially noEvent()).
    void setIdleRead(ReadAnswer answer);
    // Results of the next feature writes; when the queue is empty a write takes all bytes.
    void queueWriteResult(int result);

    // --- Slow calls
    // Every call of this kind takes this long (outside the fake's lock).
    void setDelay(Call call, std::chrono::milliseconds delay);
    // Calls of this kind wait at a gate (before doing anything) until release().
    void hold(Call call);
    void release(Call call);
    // Opens every gate; for a test's clean-up, so a failed check cannot leave a thread stuck.
    void releaseAll();
    // True once a call of this kind waits at its gate.
    bool waitUntilHeld(Call call, std::chrono::milliseconds timeout);
    // True once `count` calls of this kind have completed.
    bool waitForCalls(Call call, int count, std::chrono::milliseconds timeout);

    // --- Records
    void note(const std::string &text);
    int calls(Call call) const; // completed calls of this kind
    int handlesOpened() const;
    int handlesClosed() const;
    int handlesOpen() const;
    int enumerationEntriesLive() const; // entries of hid_enumerate lists not yet freed
    // Wrong use of the library, described: double or unknown close, calls on closed
    // handles, two threads in one handle at once, lists freed twice, exit with open handles.
    std::vector<std::string> misuses() const;
    std::vector<FeatureWrite> featureWrites() const;
    std::vector<std::string> openedPaths() const; // paths of successful opens, in order
    std::vector<LogEntry> log() const;
    void clearLog();
    // Oldest entries are dropped beyond this many (default 100000).
    void setLogLimit(std::size_t entries);
    // When the last read that produced a key event returned (epoch when none did).
    std::chrono::steady_clock::time_point lastKeyAnswerTime() const;

    struct State;

private:
    std::shared_ptr<State> m_state;
    std::shared_ptr<State> m_previous;
};

// The hidapi functions of fakehidapi.cpp forward to these, which serve the current dongle.
namespace api {
int init();
int exit();
hid_device_info *enumerate(unsigned short vendorId, unsigned short productId);
void freeEnumeration(hid_device_info *list);
hid_device_ *open(unsigned short vendorId, unsigned short productId, const wchar_t *serial);
hid_device_ *openPath(const char *path);
void close(hid_device_ *device);
int getFeatureReport(hid_device_ *device, unsigned char *data, std::size_t length);
int sendFeatureReport(hid_device_ *device, const unsigned char *data, std::size_t length);
const wchar_t *error(hid_device_ *device);
} // namespace api

} // namespace fakehid

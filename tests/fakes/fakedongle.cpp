#include "fakedongle.h"

#include <hidapi.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>

// A handle handed out by the fake. Its fields change only under its dongle's lock.
struct hid_device_
{
    std::shared_ptr<fakehid::FakeDongle::State> state;
    int number = 0;
    std::string path;
    bool answersPoll = false;
    unsigned generation = 0; // the dongle's plug generation at opening
    bool closed = false;
    int busy = 0; // calls in progress on this handle
};

namespace fakehid {

using Clock = std::chrono::steady_clock;

struct FakeDongle::State
{
    mutable std::mutex mutex;
    std::condition_variable changed;

    std::vector<Interface> interfaces;
    std::vector<Interface> others;
    bool plugged = true;
    unsigned generation = 1; // bumped on every unplug; handles of older ones are dead
    bool openRefused = false;
    bool initialised = false;

    std::deque<ReadAnswer> reads;
    ReadAnswer idleRead = ReadAnswer::noEvent();
    std::deque<int> writeResults;

    std::array<std::chrono::milliseconds, CallKinds> delays{};
    std::array<bool, CallKinds> held{};
    std::array<int, CallKinds> waiting{};
    std::array<int, CallKinds> completed{};

    int nextHandle = 1;
    int opened = 0;
    int closed = 0;
    std::unordered_set<const hid_device_info *> liveEntries;
    std::vector<std::string> misuses;
    std::vector<FeatureWrite> writes;
    std::vector<std::string> openedPaths;
    std::deque<LogEntry> log;
    std::size_t logLimit = 100000;
    Clock::time_point lastKeyAnswer{};

    // Waits at the call's gate if it is held, then takes the call's delay, unlocked.
    void enter(std::unique_lock<std::mutex> &lock, Call call)
    {
        const auto k = static_cast<std::size_t>(call);
        if (held[k]) {
            ++waiting[k];
            changed.notify_all();
            changed.wait(lock, [&] { return !held[k]; });
            --waiting[k];
        }
        const auto delay = delays[k];
        if (delay.count() > 0) {
            lock.unlock();
            std::this_thread::sleep_for(delay);
            lock.lock();
        }
    }

    void record(LogEntry entry)
    {
        entry.time = Clock::now();
        ++completed[static_cast<std::size_t>(entry.call)];
        log.push_back(std::move(entry));
        while (log.size() > logLimit)
            log.pop_front();
        changed.notify_all();
    }

    void misuse(std::string what) { misuses.push_back(std::move(what)); }

    void initImplicitly()
    {
        if (initialised)
            return;
        initialised = true;
        LogEntry entry;
        entry.call = Call::Init;
        entry.text = "implicit";
        record(entry);
    }

    bool alive(const hid_device_ &device) const
    {
        return plugged && device.generation == generation;
    }

    // The enumeration as the system would list it now.
    std::vector<Interface> present(unsigned short vendorId, unsigned short productId) const
    {
        std::vector<Interface> list;
        auto add = [&](const std::vector<Interface> &from) {
            for (const Interface &i : from) {
                if ((vendorId == 0 || i.vendorId == vendorId) &&
                    (productId == 0 || i.productId == productId))
                    list.push_back(i);
            }
        };
        add(others);
        if (plugged)
            add(interfaces);
        return list;
    }
};

namespace {

// The C functions find the current dongle and validate handles here. Never destroyed, so
// that a thread still inside the library at process exit finds it intact.
struct Registry
{
    std::mutex mutex;
    std::shared_ptr<FakeDongle::State> current;
    std::shared_ptr<FakeDongle::State> nobody; // served while no dongle object lives
    std::unordered_map<hid_device_ *, std::unique_ptr<hid_device_>> handles;
};

Registry &registry()
{
    static Registry *const r = [] {
        auto *created = new Registry;
        created->nobody = std::make_shared<FakeDongle::State>();
        created->nobody->plugged = false;
        return created;
    }();
    return *r;
}

std::shared_ptr<FakeDongle::State> currentState()
{
    Registry &r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.current ? r.current : r.nobody;
}

// The handle's own record, or null when the pointer was never handed out by the fake.
hid_device_ *knownHandle(hid_device_ *device)
{
    Registry &r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.handles.count(device) ? device : nullptr;
}

hid_device_ *newHandle(const std::shared_ptr<FakeDongle::State> &state, const std::string &path,
                       bool answersPoll)
{
    auto handle = std::make_unique<hid_device_>();
    handle->state = state;
    handle->path = path;
    handle->answersPoll = answersPoll;
    handle->generation = state->generation;
    handle->number = state->nextHandle++;
    Registry &r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    hid_device_ *const raw = handle.get();
    r.handles.emplace(raw, std::move(handle));
    return raw;
}

wchar_t *copyWide(const std::wstring &text)
{
    auto *copy = static_cast<wchar_t *>(std::calloc(text.size() + 1, sizeof(wchar_t)));
    std::wmemcpy(copy, text.c_str(), text.size());
    return copy;
}

hid_device_info *newEntry(const Interface &i)
{
    auto *entry = static_cast<hid_device_info *>(std::calloc(1, sizeof(hid_device_info)));
    entry->path = strdup(i.path.c_str());
    entry->vendor_id = i.vendorId;
    entry->product_id = i.productId;
    entry->serial_number = copyWide(i.serial);
    entry->release_number = 0x0100;
    const bool dongle = i.vendorId == DongleVendorId && i.productId == DongleProductId;
    entry->manufacturer_string = copyWide(L"Fake");
    entry->product_string = copyWide(dongle ? L"Fake presenter dongle" : L"Fake HID device");
    entry->usage_page = i.usagePage;
    entry->usage = i.usage;
    entry->interface_number = i.interfaceNumber;
    entry->bus_type = HID_API_BUS_USB;
    return entry;
}

// Opens `path` on the dongle (or another device); the caller holds the dongle's lock.
// Handles are numbered per dongle, in order of opening.
hid_device_ *openLocked(const std::shared_ptr<FakeDongle::State> &s, const std::string &path,
                        Call call)
{
    bool found = false;
    bool answers = false;
    bool refused = false;
    for (const Interface &i : s->present(0, 0)) {
        if (i.path != path)
            continue;
        found = true;
        answers = answers || i.answersPoll;
        const bool dongle = i.vendorId == DongleVendorId && i.productId == DongleProductId;
        refused = refused || (dongle && s->openRefused);
    }
    hid_device_ *device = found && !refused ? newHandle(s, path, answers) : nullptr;
    LogEntry entry;
    entry.call = call;
    entry.text = path;
    entry.result = device ? device->number : 0;
    if (device) {
        ++s->opened;
        s->openedPaths.push_back(path);
    }
    s->record(entry);
    return device;
}

std::string hex(const unsigned char *bytes, std::size_t count)
{
    std::string text;
    char digits[3];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
        text += digits;
    }
    return text;
}

std::vector<unsigned char> report(unsigned char first, unsigned char second)
{
    std::vector<unsigned char> bytes(64, 0);
    bytes[0] = first;
    bytes[1] = second;
    return bytes;
}

} // namespace

const char *callName(Call call)
{
    switch (call) {
    case Call::Init:
        return "init";
    case Call::Exit:
        return "exit";
    case Call::Enumerate:
        return "enumerate";
    case Call::FreeEnumeration:
        return "free_enumeration";
    case Call::Open:
        return "open";
    case Call::OpenPath:
        return "open_path";
    case Call::Close:
        return "close";
    case Call::GetFeatureReport:
        return "get_feature";
    case Call::SendFeatureReport:
        return "send_feature";
    case Call::Note:
        return "note";
    }
    return "?";
}

std::string toString(const LogEntry &e)
{
    const std::string name = callName(e.call);
    const std::string handle = "#" + std::to_string(e.handle);
    switch (e.call) {
    case Call::Note:
        return e.text;
    case Call::Init:
    case Call::Exit:
    case Call::FreeEnumeration:
        return name;
    case Call::Enumerate:
        return name + " -> " + std::to_string(e.result);
    case Call::Open:
    case Call::OpenPath:
        return name + " " + e.text + " -> " +
               (e.result ? "#" + std::to_string(e.result) : std::string("null"));
    case Call::Close:
        return name + " " + handle;
    case Call::GetFeatureReport:
    case Call::SendFeatureReport: {
        char id[8];
        std::snprintf(id, sizeof id, "%02x", e.reportId & 0xFF);
        return name + " " + handle + " " + id + "/" + std::to_string(e.length) + " -> " +
               std::to_string(e.result) + (e.text.empty() ? "" : " [" + e.text + "]");
    }
    }
    return name;
}

std::vector<Interface> windowsDongle()
{
    std::vector<Interface> list;
    for (int col = 1; col <= 5; ++col) {
        Interface i;
        i.path = "\\\\?\\hid#vid_7045&pid_1820&mi_01&col0" + std::to_string(col) +
                 "#8&2a4f1c3e&0&000" + std::to_string(col - 1) +
                 "#{4d1e55b2-f16f-11cf-88cb-001111000030}";
        i.interfaceNumber = 1;
        i.usagePage = col == 4 ? 0xFF00 : 0x000C;
        i.answersPoll = col == 4;
        list.push_back(i);
    }
    return list;
}

std::vector<Interface> linuxDongle()
{
    std::vector<Interface> list;
    Interface keyboard;
    keyboard.path = "/dev/hidraw2";
    keyboard.interfaceNumber = 0;
    keyboard.usagePage = 0x0001;
    keyboard.usage = 0x0006;
    list.push_back(keyboard);
    for (int col = 1; col <= 4; ++col) {
        Interface i;
        i.path = "/dev/hidraw3";
        i.interfaceNumber = 1;
        i.usagePage = col == 4 ? 0xFF00 : 0x000C;
        i.usage = static_cast<unsigned short>(col);
        i.answersPoll = col == 4;
        list.push_back(i);
    }
    return list;
}

ReadAnswer ReadAnswer::keyEvent(unsigned char keyByte, int result)
{
    return ReadAnswer{result, report(0xFE, keyByte)};
}

ReadAnswer ReadAnswer::noEvent(int result)
{
    return ReadAnswer{result, report(0x12, 0x00)};
}

ReadAnswer ReadAnswer::failure()
{
    return ReadAnswer{-1, {}};
}

ReadAnswer ReadAnswer::shortRead(int result)
{
    return ReadAnswer{result, {}};
}

// --- FakeDongle

FakeDongle::FakeDongle(std::vector<Interface> interfaces, bool plugged)
    : m_state(std::make_shared<State>())
{
    m_state->interfaces = std::move(interfaces);
    m_state->plugged = plugged;
    Registry &r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    m_previous = r.current;
    r.current = m_state;
}

FakeDongle::~FakeDongle()
{
    {
        Registry &r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        if (r.current == m_state)
            r.current = m_previous;
    }
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->plugged = false;
    ++m_state->generation;
    m_state->held.fill(false);
    m_state->changed.notify_all();
}

void FakeDongle::setInterfaces(std::vector<Interface> interfaces)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->interfaces = std::move(interfaces);
}

void FakeDongle::setOtherDevices(std::vector<Interface> devices)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->others = std::move(devices);
}

void FakeDongle::plug()
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->plugged = true;
}

void FakeDongle::unplug()
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    if (m_state->plugged)
        ++m_state->generation;
    m_state->plugged = false;
}

bool FakeDongle::isPlugged() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->plugged;
}

void FakeDongle::setOpenRefused(bool refused)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->openRefused = refused;
}

void FakeDongle::queueRead(ReadAnswer answer)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->reads.push_back(std::move(answer));
}

void FakeDongle::queueReads(const std::vector<ReadAnswer> &answers)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->reads.insert(m_state->reads.end(), answers.begin(), answers.end());
}

void FakeDongle::setIdleRead(ReadAnswer answer)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->idleRead = std::move(answer);
}

void FakeDongle::queueWriteResult(int result)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->writeResults.push_back(result);
}

void FakeDongle::setDelay(Call call, std::chrono::milliseconds delay)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->delays[static_cast<std::size_t>(call)] = delay;
}

void FakeDongle::hold(Call call)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->held[static_cast<std::size_t>(call)] = true;
}

void FakeDongle::release(Call call)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->held[static_cast<std::size_t>(call)] = false;
    m_state->changed.notify_all();
}

void FakeDongle::releaseAll()
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->held.fill(false);
    m_state->changed.notify_all();
}

bool FakeDongle::waitUntilHeld(Call call, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(m_state->mutex);
    const auto k = static_cast<std::size_t>(call);
    return m_state->changed.wait_for(lock, timeout, [&] { return m_state->waiting[k] > 0; });
}

bool FakeDongle::waitForCalls(Call call, int count, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(m_state->mutex);
    const auto k = static_cast<std::size_t>(call);
    return m_state->changed.wait_for(lock, timeout, [&] { return m_state->completed[k] >= count; });
}

void FakeDongle::note(const std::string &text)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    LogEntry entry;
    entry.call = Call::Note;
    entry.text = text;
    m_state->record(entry);
}

int FakeDongle::calls(Call call) const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->completed[static_cast<std::size_t>(call)];
}

int FakeDongle::handlesOpened() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->opened;
}

int FakeDongle::handlesClosed() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->closed;
}

int FakeDongle::handlesOpen() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->opened - m_state->closed;
}

int FakeDongle::enumerationEntriesLive() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return static_cast<int>(m_state->liveEntries.size());
}

std::vector<std::string> FakeDongle::misuses() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->misuses;
}

std::vector<FeatureWrite> FakeDongle::featureWrites() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->writes;
}

std::vector<std::string> FakeDongle::openedPaths() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->openedPaths;
}

std::vector<LogEntry> FakeDongle::log() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return {m_state->log.begin(), m_state->log.end()};
}

void FakeDongle::clearLog()
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->log.clear();
}

void FakeDongle::setLogLimit(std::size_t entries)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->logLimit = entries;
    while (m_state->log.size() > entries)
        m_state->log.pop_front();
}

std::chrono::steady_clock::time_point FakeDongle::lastKeyAnswerTime() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->lastKeyAnswer;
}

// --- The library's entry points

namespace api {

int init()
{
    const auto s = currentState();
    std::unique_lock<std::mutex> lock(s->mutex);
    s->enter(lock, Call::Init);
    s->initialised = true;
    LogEntry entry;
    entry.call = Call::Init;
    s->record(entry);
    return 0;
}

int exit()
{
    const auto s = currentState();
    std::unique_lock<std::mutex> lock(s->mutex);
    s->enter(lock, Call::Exit);
    if (s->opened != s->closed)
        s->misuse("hid_exit with " + std::to_string(s->opened - s->closed) + " handle(s) open");
    s->initialised = false;
    LogEntry entry;
    entry.call = Call::Exit;
    s->record(entry);
    return 0;
}

hid_device_info *enumerate(unsigned short vendorId, unsigned short productId)
{
    const auto s = currentState();
    std::unique_lock<std::mutex> lock(s->mutex);
    s->initImplicitly();
    s->enter(lock, Call::Enumerate);
    const std::vector<Interface> present = s->present(vendorId, productId);
    hid_device_info *head = nullptr;
    for (auto i = present.rbegin(); i != present.rend(); ++i) {
        hid_device_info *entry = newEntry(*i);
        entry->next = head;
        head = entry;
        s->liveEntries.insert(entry);
    }
    LogEntry entry;
    entry.call = Call::Enumerate;
    entry.result = static_cast<int>(present.size());
    s->record(entry);
    return head;
}

void freeEnumeration(hid_device_info *list)
{
    const auto s = currentState();
    std::unique_lock<std::mutex> lock(s->mutex);
    s->enter(lock, Call::FreeEnumeration);
    while (list) {
        if (s->liveEntries.erase(list) == 0) {
            // Not ours, or freed before: touching it could crash the test, so stop here.
            s->misuse("hid_free_enumeration of an entry not (or no longer) enumerated");
            break;
        }
        hid_device_info *const next = list->next;
        std::free(list->path);
        std::free(list->serial_number);
        std::free(list->manufacturer_string);
        std::free(list->product_string);
        std::free(list);
        list = next;
    }
    LogEntry entry;
    entry.call = Call::FreeEnumeration;
    s->record(entry);
}

hid_device_ *open(unsigned short vendorId, unsigned short productId, const wchar_t *serial)
{
    const auto s = currentState();
    std::unique_lock<std::mutex> lock(s->mutex);
    s->initImplicitly();
    s->enter(lock, Call::Open);
    for (const Interface &i : s->present(vendorId, productId)) {
        if (!serial || i.serial == serial)
            return openLocked(s, i.path, Call::Open);
    }
    return openLocked(s, std::string(), Call::Open);
}

hid_device_ *openPath(const char *path)
{
    const auto s = currentState();
    std::unique_lock<std::mutex> lock(s->mutex);
    s->initImplicitly();
    s->enter(lock, Call::OpenPath);
    return openLocked(s, path ? path : "", Call::OpenPath);
}

void close(hid_device_ *device)
{
    if (!knownHandle(device)) {
        const auto s = currentState();
        std::lock_guard<std::mutex> lock(s->mutex);
        s->misuse(device ? "hid_close of a handle never opened" : "hid_close(NULL)");
        return;
    }
    const auto s = device->state;
    std::unique_lock<std::mutex> lock(s->mutex);
    if (device->closed) {
        s->misuse("hid_close of #" + std::to_string(device->number) + " twice");
        return;
    }
    if (device->busy > 0)
        s->misuse("hid_close of #" + std::to_string(device->number) + " while a call is in it");
    s->enter(lock, Call::Close);
    device->closed = true;
    ++s->closed;
    LogEntry entry;
    entry.call = Call::Close;
    entry.handle = device->number;
    s->record(entry);
}

// The common frame of the two feature-report calls: handle checks, gate, in-use tracking.
template <typename Body>
int featureCall(hid_device_ *device, Call call, int reportId, std::size_t length, Body body)
{
    const std::string name = callName(call);
    if (!knownHandle(device)) {
        const auto s = currentState();
        std::lock_guard<std::mutex> lock(s->mutex);
        s->misuse(name + (device ? " on a handle never opened" : " on NULL"));
        return -1;
    }
    const auto s = device->state;
    std::unique_lock<std::mutex> lock(s->mutex);
    if (device->closed) {
        s->misuse(name + " on closed #" + std::to_string(device->number));
        return -1;
    }
    if (++device->busy > 1)
        s->misuse(name + " while another call is in #" + std::to_string(device->number));
    s->enter(lock, call);
    std::string text;
    const int result = body(*s, text);
    --device->busy;
    LogEntry entry;
    entry.text = std::move(text);
    entry.call = call;
    entry.handle = device->number;
    entry.result = result;
    entry.reportId = reportId;
    entry.length = length;
    s->record(entry);
    return result;
}

int getFeatureReport(hid_device_ *device, unsigned char *data, std::size_t length)
{
    const int reportId = data && length > 0 ? data[0] : -1;
    return featureCall(device, Call::GetFeatureReport, reportId, length,
                       [&](FakeDongle::State &s, std::string &text) {
                           if (!s.alive(*device) || !device->answersPoll || !data)
                               return -1;
                           ReadAnswer answer = s.idleRead;
                           if (!s.reads.empty()) {
                               answer = std::move(s.reads.front());
                               s.reads.pop_front();
                           }
                           const std::size_t n = std::min(answer.bytes.size(), length);
                           std::copy_n(answer.bytes.begin(), n, data);
                           const int result = std::min(answer.result, static_cast<int>(length));
                           if (result > 1) {
                               text = hex(data, 2);
                               if (data[0] == 0xFE)
                                   s.lastKeyAnswer = Clock::now();
                           }
                           return result;
                       });
}

int sendFeatureReport(hid_device_ *device, const unsigned char *data, std::size_t length)
{
    const int reportId = data && length > 0 ? data[0] : -1;
    return featureCall(device, Call::SendFeatureReport, reportId, length,
                       [&](FakeDongle::State &s, std::string &text) {
                           int result = -1;
                           if (s.alive(*device) && data) {
                               result = static_cast<int>(length);
                               if (!s.writeResults.empty()) {
                                   result = s.writeResults.front();
                                   s.writeResults.pop_front();
                               }
                           }
                           FeatureWrite write;
                           write.handle = device->number;
                           write.result = result;
                           if (data) {
                               write.bytes.assign(data, data + length);
                               text = hex(data, std::min<std::size_t>(length, 3));
                           }
                           s.writes.push_back(std::move(write));
                           return result;
                       });
}

const wchar_t *error(hid_device_ *)
{
    return L"fake hidapi: no error text";
}

} // namespace api

} // namespace fakehid

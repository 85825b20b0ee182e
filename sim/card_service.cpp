#include "sim/card_service.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "channel/tool_message.h"
#include "sim/card_rules.h"
#include "template/resource_template.h"

namespace {

enum class RequestKind { VERSION, PCIDID, FETCH, STORE };
// Names of the kinds in fault files, in the order above.
const char *const KIND_NAMES[] = {"version", "pcidid", "fetch", "store"};

// Sizes each request must carry, as the driver checks them. A template
// request is a store when bit 0 of its flags is set.
struct RequestShape {
    uint32_t module;
    uint32_t command;
    uint32_t in_size;
    uint32_t out_size;
    RequestKind kind;
};

// The driver's own numbers, never the tool's constants: a tool that sends
// another module, command or size is refused, not served.
constexpr unsigned long TOOL_REQUEST_CODE = 0x7818;
constexpr uint32_t VERSION_REPLY_SIZE = 128;
constexpr uint32_t RECORD_SIZE = 1024;
const RequestShape SHAPES[] = {
    {2, 16, 4, VERSION_REPLY_SIZE, RequestKind::VERSION},
    {2, 29, 2, 2, RequestKind::PCIDID},
    {4, 0x16800, RECORD_SIZE, RECORD_SIZE, RequestKind::FETCH},
};

// The shape of a request the driver knows (nullptr for any other) and its
// kind, read without trusting the sizes: a template request whose record
// carries the store flag is a store.
const RequestShape *shape_of(const ToolMessage &message, RequestKind *kind)
{
    for (const RequestShape &shape : SHAPES) {
        if (shape.module == message.module && shape.command == message.command) {
            ResourceTemplate record{};
            if (message.in_buf != nullptr && message.in_size == RECORD_SIZE) {
                memcpy(&record, message.in_buf, sizeof(record));
            }
            const bool store = shape.kind == RequestKind::FETCH && (record.flags & 1u) != 0;
            *kind = store ? RequestKind::STORE : shape.kind;
            return &shape;
        }
    }
    return nullptr;
}

std::string hex(const void *data, size_t length)
{
    static const char DIGITS[] = "0123456789abcdef";
    const auto *bytes = static_cast<const uint8_t *>(data);
    std::string text(length * 2, '0');
    for (size_t i = 0; i < length; ++i) {
        text[2 * i] = DIGITS[bytes[i] >> 4];
        text[2 * i + 1] = DIGITS[bytes[i] & 0x0F];
    }
    return text;
}

std::string path_in(const char *state, const std::string &relative)
{
    return std::string(state) + "/" + relative;
}

bool exists(const std::string &path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

// Reads at most `capacity` bytes of a file; -1 when it cannot be read. The
// state folder's files are regular files, which the kernel reads and writes
// whole in one call, signals or not.
ssize_t read_file(const std::string &path, void *buffer, size_t capacity)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    ssize_t got = read(fd, buffer, capacity);
    close(fd);
    return got;
}

bool write_all(int fd, const void *data, size_t length)
{
    return write(fd, data, length) == static_cast<ssize_t>(length);
}

// One line in one write to a file opened for appending: the kernel keeps
// such a line whole among other processes' lines, so no lock is taken.
void append_line(const char *state, const char *file, const std::string &line)
{
    int fd = open(path_in(state, file).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
        write_all(fd, line.data(), line.size());
        close(fd);
    }
}

// Serialises every process that uses the same state folder until the
// descriptor it returns is closed.
int lock_state(const char *state)
{
    int fd = open(path_in(state, "lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    while (fd >= 0 && flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    return fd;
}

// Card folder of a device name, or "" when the driver knows no such device.
std::string card_folder(const char *state, const char (&name)[16])
{
    size_t length = strnlen(name, sizeof(name));
    if (length == 0 || length == sizeof(name)) {
        return "";
    }
    std::string text(name, length);
    if (text == "." || text == ".." || text.find('/') != std::string::npos) {
        return "";
    }
    std::string folder = path_in(state, "cards/" + text);
    struct stat info {};
    return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? folder : "";
}

bool fault_set(const char *state, const char *prefix, RequestKind kind, std::string *content)
{
    // Most machines have no fault at all: one look at the folder tells.
    if (!exists(path_in(state, "faults"))) {
        return false;
    }
    for (const char *which : {KIND_NAMES[static_cast<int>(kind)], "all"}) {
        std::string path = path_in(state, std::string("faults/") + prefix + which);
        if (exists(path)) {
            if (content != nullptr) {
                char buffer[64] = {};
                ssize_t got = read_file(path, buffer, sizeof(buffer) - 1);
                *content = got > 0 ? std::string(buffer, static_cast<size_t>(got)) : "";
            }
            return true;
        }
    }
    return false;
}

int serve_version(const char *state, void *out)
{
    memset(out, 0, VERSION_REPLY_SIZE);  // absent or empty file: the driver answers no text
    read_file(path_in(state, "driver_version"), out, VERSION_REPLY_SIZE);
    return 0;
}

int serve_pcidid(const std::string &card, void *out, int *error)
{
    char text[32] = {};
    if (read_file(card + "/pci_device_id", text, sizeof(text) - 1) <= 0) {
        *error = EIO;
        return -1;
    }
    unsigned long id = strtoul(text, nullptr, 0);
    uint8_t reply[2] = {static_cast<uint8_t>(id & 0xFF), static_cast<uint8_t>((id >> 8) & 0xFF)};
    memcpy(out, reply, sizeof(reply));
    return 0;
}

// Written in place: every process reads and writes a card under the state
// lock, so none sees a part of a record. A file replaced by rename, or
// truncated, would make the file system flush it before the rename lasts,
// a wait of the stand-in's own that the program under test would pay for.
bool store_template(const std::string &card, const ResourceTemplate *record)
{
    int fd = open((card + "/template.bin").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    const bool written =
        write_all(fd, record, sizeof(*record)) && ftruncate(fd, sizeof(*record)) == 0;
    return close(fd) == 0 && written;
}

void serve_template(const char *state, const std::string &card, RequestKind kind,
                    const ResourceTemplate *request, void *out)
{
    ResourceTemplate reply;
    memcpy(&reply, request, sizeof(reply));
    std::string injected;  // a status byte the test chose
    uint8_t status = fault_set(state, "status-", kind, &injected)
                         ? static_cast<uint8_t>(strtoul(injected.c_str(), nullptr, 0) & 0xFF)
                         : 0;
    if (status == 0 && kind == RequestKind::FETCH) {
        status = card_check_fetch(request);
        if (status == CARD_STATUS_OK) {
            ssize_t got = read_file(card + "/template.bin", &reply, sizeof(reply));
            if (got != static_cast<ssize_t>(sizeof(reply))) {
                memcpy(&reply, request, sizeof(reply));
                status = CARD_STATUS_NO_TEMPLATE;
            }
        }
    } else if (status == 0 && !exists(path_in(state, "faults/keep-nothing"))) {
        // A card that keeps nothing answers every store as done, untouched.
        status = card_check_store(request);
        if (status == CARD_STATUS_OK && !store_template(card, request)) {
            status = CARD_STATUS_WRITE_FAILED;
        }
    }
    reply.status = status;
    memcpy(out, &reply, sizeof(reply));
}

// A request of a held kind waits, outside the state lock, until the test
// removes the hold file: the caller stands still inside its request.
void wait_while_held(const char *state, unsigned long request, const void *arg)
{
    if (request != TOOL_REQUEST_CODE || arg == nullptr) {
        return;
    }
    ToolMessage message{};
    memcpy(&message, arg, sizeof(message));
    RequestKind kind = RequestKind::VERSION;
    if (shape_of(message, &kind) == nullptr || !fault_set(state, "hold-", kind, nullptr)) {
        return;
    }
    constexpr timespec POLL = {0, 10 * 1000 * 1000};
    // The test learns that the caller stands inside its request.
    const std::string held = path_in(state, "faults/held");
    close(open(held.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    while (fault_set(state, "hold-", kind, nullptr)) {
        nanosleep(&POLL, nullptr);
    }
    unlink(held.c_str());
}

// The request checked and carried out; the in-data as it arrived goes to `arrived`.
int serve(const char *state, ToolMessage *message, std::string *arrived, int *error)
{
    RequestKind kind = RequestKind::VERSION;
    const RequestShape *shape = shape_of(*message, &kind);
    if (shape == nullptr) {
        *error = ENOTTY;
        return -1;
    }
    if (message->in_size != shape->in_size || message->out_size != shape->out_size) {
        *error = EINVAL;
        return -1;
    }
    if (message->in_buf == nullptr || message->out_buf == nullptr) {
        *error = EFAULT;
        return -1;
    }
    // The driver copies the request in before it answers, so the reply may
    // overwrite it in place.
    alignas(ResourceTemplate) uint8_t in[RECORD_SIZE] = {};
    memcpy(in, message->in_buf, message->in_size);
    arrived->assign(reinterpret_cast<const char *>(in), message->in_size);

    if (fault_set(state, "ioctl-", kind, nullptr)) {
        *error = EIO;
        return -1;
    }
    std::string card = card_folder(state, message->device_name);
    if (card.empty()) {
        *error = ENODEV;
        return -1;
    }
    if (kind == RequestKind::VERSION) {
        return serve_version(state, message->out_buf);
    }
    if (kind == RequestKind::PCIDID) {
        return serve_pcidid(card, message->out_buf, error);
    }
    serve_template(state, card, kind, reinterpret_cast<const ResourceTemplate *>(in),
                   message->out_buf);
    return 0;
}

}  // namespace

int sim_serve_ioctl(const char *state, int fd, int open_flags, unsigned long request, void *arg,
                    int *error)
{
    wait_while_held(state, request, arg);
    int lock = lock_state(state);
    ToolMessage message{};
    std::string arrived;
    int result = -1;
    *error = 0;
    if (request != TOOL_REQUEST_CODE) {
        *error = ENOTTY;  // not ours to read: the argument may be anything
    } else if (arg == nullptr) {
        *error = EFAULT;
    } else {
        memcpy(&message, arg, sizeof(message));
        result = serve(state, &message, &arrived, error);
    }
    std::string line = "ioctl pid=" + std::to_string(getpid()) + " fd=" + std::to_string(fd) +
                       " request=" + std::to_string(request) +
                       " open_flags=" + std::to_string(open_flags) +
                       " name=" + hex(message.device_name, sizeof(message.device_name)) +
                       " module=" + std::to_string(message.module) +
                       " command=" + std::to_string(message.command) +
                       " in_size=" + std::to_string(message.in_size) +
                       " out_size=" + std::to_string(message.out_size) +
                       " dev_id=" + std::to_string(message.dev_id) +
                       " reserved=" + std::to_string(message.reserved) +
                       " same=" + (message.in_buf == message.out_buf ? "1" : "0") +
                       " result=" + std::to_string(result) + " errno=" + std::to_string(*error) +
                       " data=" + hex(arrived.data(), arrived.size()) + "\n";
    append_line(state, "journal", line);
    if (lock >= 0) {
        close(lock);
    }
    return result;
}

const char *sim_state_folder()
{
    const char *state = getenv(SIM_STATE_ENV);
    return state != nullptr && state[0] != '\0' ? state : nullptr;
}

bool sim_device_present(const char *state)
{
    return !exists(path_in(state, "faults/no_device"));
}

void sim_journal_open(const char *state, const char *path, int flags, int result, int error)
{
    append_line(state, "journal",
                "open pid=" + std::to_string(getpid()) + " fd=" + std::to_string(result) +
                    " flags=" + std::to_string(flags) + " errno=" + std::to_string(error) +
                    " path=" + hex(path, strlen(path)) + "\n");
}

void sim_journal_close(const char *state, int fd)
{
    append_line(state, "journal",
                "close pid=" + std::to_string(getpid()) + " fd=" + std::to_string(fd) + "\n");
}

void sim_record_syslog(const char *state, const char *identity, int option, int facility,
                       int priority, const char *message, size_t length)
{
    append_line(
        state, "syslog",
        "syslog pid=" + std::to_string(getpid()) + " time=" + std::to_string(time(nullptr)) +
            " identity=" + hex(identity, strlen(identity)) + " option=" + std::to_string(option) +
            " facility=" + std::to_string(facility) + " priority=" + std::to_string(priority) +
            " message=" + hex(message, length) + "\n");
}

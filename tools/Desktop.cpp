#include "Desktop.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "DropInExample.h"
#include "PipeWireControl.h"
#if VURNEL_HAVE_EDITOR
#include "ToneEditorWindow.h"
#endif

namespace vurnel::host {

namespace {

// The filter-chain's capture node, the output device the desktop plays into; the filter's
// controls live on it as "tone:<port symbol>".
constexpr char kNodeName[] = "effect_input.vurnel";
constexpr char kControlPrefix[] = "tone:";
constexpr char kMark[] = "# Written by `vurnel desktop install`";
constexpr char kRestart[] = "systemctl --user restart pipewire";

const char kUsageText[] =
    "usage:\n"
    "  vurnel desktop install [--bass DB] [--treble DB] [--bass-cutoff HZ] [--treble-cutoff HZ]\n"
    "  vurnel desktop set [--bass DB] [--treble DB] [--bass-cutoff HZ] [--treble-cutoff HZ]\n"
    "  vurnel desktop show\n"
    "  vurnel desktop remove\n"
    "  vurnel desktop edit\n"
    "desktop puts the tone control into the desktop's audio (PipeWire): install writes the\n"
    "drop-in $XDG_CONFIG_HOME/pipewire/pipewire.conf.d/vurnel.conf (else ~/.config/...),\n"
    "active from PipeWire's next start; set changes the running filter at once and the file;\n"
    "show prints the running filter's values and whether it is the default output; remove\n"
    "takes the drop-in away; edit opens the tone control's window, bound to the running filter\n"
    "(its changes are set as `set` sets them).\n";

struct DesktopUsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct DesktopError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string Folder(const std::string& path) {
    return path.substr(0, path.find_last_of('/'));
}

bool Exists(const std::string& path) {
    struct stat s;
    return stat(path.c_str(), &s) == 0;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw DesktopError("cannot read " + path + ": " + std::strerror(errno));
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) throw DesktopError("cannot read " + path);
    return text.str();
}

// Writes a temporary file beside the drop-in and renames it over it, so a reader (PipeWire, or
// another `vurnel desktop`) sees the old file or the new one, never a part of one. The
// temporary name does not end in .conf, so PipeWire never reads it.
void WriteFile(const std::string& path, const std::string& text) {
    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) throw DesktopError("cannot write in " + Folder(path) + ": " + std::strerror(errno));
    bool ok = fchmod(fd, 0644) == 0;
    for (std::size_t done = 0; ok && done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    const int error = errno;
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int why = ok ? errno : error;
        unlink(temporary.c_str());
        throw DesktopError("cannot write " + path + ": " + std::strerror(why));
    }
}

void MakeFolders(const std::string& folder) {
    for (std::size_t at = 1; at != std::string::npos;) {
        at = folder.find('/', at + 1);
        const std::string part = folder.substr(0, at);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            throw DesktopError("cannot create " + part + ": " + std::strerror(errno));
    }
}

// Holds an exclusive lock on the drop-in's folder while a command reads, changes and writes the
// file, so two commands at once take turns instead of losing one's change.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder)
        : fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (fd >= 0) {
            while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~FolderLock() {
        if (fd >= 0) close(fd);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int fd;
};

// The drop-in on disk: absent, vurnel's, or someone else's.
struct DropIn {
    std::string path;
    bool exists = false;
    bool ours = false;
    std::string text;
};

DropIn ReadDropIn() {
    DropIn d;
    d.path = dropin::Path();
    d.exists = Exists(d.path);
    if (d.exists) {
        d.text = ReadFile(d.path);
        d.ours = dropin::WrittenByVurnel(d.text);
    }
    return d;
}

std::string Described(const ToneSettings& s) {
    std::string text;
    const int order[] = {kBass, kTreble, kBassCutoff, kTrebleCutoff};
    for (int c : order) {
        if (!s.value[c]) continue;
        if (!text.empty()) text += ", ";
        text += std::string(ToneOptionOf(c).symbol) + " " + ToneValueText(c, *s.value[c]);
    }
    for (char& ch : text)
        if (ch == '_') ch = ' ';
    return text;
}

// The running filter, if there is one: the connection and what it answered.
struct LiveFilter {
    PipeWireControl pipewire;
    bool running = false;
    std::string why; // why it is not running
    ToneSettings values;

    LiveFilter() {
        if (!pipewire.Connected()) {
            why = pipewire.Problem();
            return;
        }
        if (!pipewire.FindNode(kNodeName)) {
            why = std::string("PipeWire has no node ") + kNodeName;
            return;
        }
        Read();
        running = values.Any();
        if (!running) why = std::string("the node ") + kNodeName + " has no tone controls";
    }

    void Read() {
        values = ToneSettings();
        for (const auto& [name, value] : pipewire.ReadControls()) {
            if (name.compare(0, std::strlen(kControlPrefix), kControlPrefix) != 0) continue;
            const std::string symbol = name.substr(std::strlen(kControlPrefix));
            for (int c = 0; c < kToneControls; ++c)
                if (symbol == ToneOptionOf(c).symbol) values.value[c] = value;
        }
    }

    void Set(const ToneSettings& s) {
        std::vector<std::pair<std::string, float>> controls;
        for (int c = 0; c < kToneControls; ++c)
            if (s.value[c])
                controls.emplace_back(std::string(kControlPrefix) + ToneOptionOf(c).symbol,
                                      *s.value[c]);
        pipewire.SetControls(controls);
        Read();
        for (int c = 0; c < kToneControls; ++c)
            if (s.value[c] && values.value[c] != s.value[c])
                throw DesktopError("the running filter did not take the new " +
                                   std::string(ToneOptionOf(c).symbol) + " value");
    }
};

ToneSettings ParseSettings(const std::vector<std::string>& args, const char* command) {
    ToneSettings s;
    for (std::size_t i = 1; i < args.size();) {
        if (!ParseToneOption(args, i, s))
            throw DesktopUsageError("desktop " + std::string(command) + ": unknown argument '" +
                                    args[i] + "'");
    }
    return s;
}

void NoArguments(const std::vector<std::string>& args, const char* command) {
    if (args.size() > 1)
        throw DesktopUsageError("desktop " + std::string(command) + " takes no arguments, not '" +
                                args[1] + "'");
}

int Install(const std::vector<std::string>& args) {
    const ToneSettings given = ParseSettings(args, "install");
    const std::string path = dropin::Path();
    MakeFolders(Folder(path));
    FolderLock lock(Folder(path));
    const DropIn d = ReadDropIn();
    if (d.exists && !d.ours)
        throw DesktopError(path + " exists and was not written by vurnel; move it away, then run " +
                           "`vurnel desktop install` again");
    std::string text;
    if (d.exists) {
        text = dropin::WithControls(d.text, given);
    } else {
        const ToneSettings example = dropin::Controls(dropin::kExample);
        float values[kToneControls];
        for (int c = 0; c < kToneControls; ++c)
            values[c] = given.value[c] ? *given.value[c]
                                       : example.value[c].value_or(ToneOptionOf(c).defaultValue);
        text = dropin::Text(values);
    }
    WriteFile(path, text);
    std::printf("%s %s: %s\n", d.exists ? "updated" : "wrote", path.c_str(),
                Described(dropin::Controls(text)).c_str());
    LiveFilter live;
    if (live.running) {
        if (given.Any()) {
            live.Set(given);
            std::printf("set on the running filter as well: %s\n", Described(given).c_str());
        } else {
            std::printf("the filter is running already\n");
        }
        return 0;
    }
    // A module loaded by a client runs in that client's process and ends with it, so a filter
    // that outlives this command needs the daemon itself to read the drop-in.
    std::printf("PipeWire reads it when it starts: run `%s` (or log out and in),\n"
                "then choose \"Vurnel tone control\" as the output; `vurnel desktop set` then "
                "changes it live.\n",
                kRestart);
    return 0;
}

int Set(const std::vector<std::string>& args) {
    const ToneSettings given = ParseSettings(args, "set");
    if (!given.Any())
        throw DesktopUsageError("desktop set wants at least one of --bass, --treble, "
                                "--bass-cutoff, --treble-cutoff");
    const std::string path = dropin::Path();
    FolderLock lock(Folder(path));
    const DropIn d = ReadDropIn();
    std::string text;
    if (d.ours) text = dropin::WithControls(d.text, given); // checks the file before any change
    LiveFilter live;
    if (!live.running && !d.ours) {
        throw DesktopError("no Vurnel filter is running (" + live.why + ") and " +
                           (d.exists ? path + " was not written by vurnel"
                                     : path + " does not exist; run `vurnel desktop install`"));
    }
    if (live.running) {
        live.Set(given);
        std::printf("set on the running filter: %s\n", Described(given).c_str());
    } else {
        std::printf("no Vurnel filter is running (%s); changing only the drop-in\n",
                    live.why.c_str());
    }
    if (d.ours) {
        WriteFile(path, text);
        std::printf("saved in %s\n", path.c_str());
    } else if (d.exists) {
        std::printf("%s was not written by vurnel and stays as it is: the values last until "
                    "PipeWire restarts\n",
                    path.c_str());
    } else {
        std::printf("%s does not exist: the values last until PipeWire restarts "
                    "(`vurnel desktop install` writes one)\n",
                    path.c_str());
    }
    return 0;
}

void PrintValues(const ToneSettings& values, const ToneSettings* file) {
    const int order[] = {kBass, kTreble, kBassCutoff, kTrebleCutoff};
    for (int c : order) {
        std::string name = ToneOptionOf(c).symbol;
        for (char& ch : name)
            if (ch == '_') ch = ' ';
        std::string line = "  " + name + std::string(15 - name.size(), ' ') +
                           (values.value[c] ? ToneValueText(c, *values.value[c]) : "(not set)");
        if (file && file->value[c] != values.value[c])
            line += file->value[c]
                        ? "   (the drop-in says " + ToneValueText(c, *file->value[c]) + ")"
                        : "   (not in the drop-in)";
        std::printf("%s\n", line.c_str());
    }
}

int Show(const std::vector<std::string>& args) {
    NoArguments(args, "show");
    const DropIn d = ReadDropIn();
    const ToneSettings file = d.exists ? dropin::Controls(d.text) : ToneSettings();
    LiveFilter live;
    if (live.running) {
        std::printf("the running filter (%s):\n", kNodeName);
        PrintValues(live.values, d.exists ? &file : nullptr);
        const auto sink = live.pipewire.DefaultSink();
        if (sink && *sink == kNodeName)
            std::printf("default output: yes\n");
        else if (sink)
            std::printf("default output: no (the default output is %s)\n", sink->c_str());
        else
            std::printf("default output: no (PipeWire names no default output)\n");
    } else {
        std::printf("no Vurnel filter is running (%s)\n", live.why.c_str());
        if (d.exists) {
            std::printf("the drop-in's values:\n");
            PrintValues(file, nullptr);
        }
    }
    if (!d.exists)
        std::printf("drop-in: %s does not exist\n", d.path.c_str());
    else
        std::printf("drop-in: %s%s\n", d.path.c_str(),
                    d.ours ? "" : " (not written by vurnel: `vurnel desktop set` leaves it alone)");
    return 0;
}

int Remove(const std::vector<std::string>& args) {
    NoArguments(args, "remove");
    const std::string path = dropin::Path();
    const std::string folder = Folder(path);
    {
        FolderLock lock(folder);
        const DropIn d = ReadDropIn();
        if (!d.exists) {
            std::printf("nothing to remove: %s does not exist\n", path.c_str());
            return 0;
        }
        if (!d.ours) throw DesktopError(path + " was not written by vurnel; it stays as it is");
        if (unlink(path.c_str()) != 0)
            throw DesktopError("cannot remove " + path + ": " + std::strerror(errno));
        // The folders install made, when nothing else is in them.
        if (rmdir(folder.c_str()) == 0) rmdir(Folder(folder).c_str());
    }
    std::printf("removed %s\n", path.c_str());
    LiveFilter live;
    if (live.running)
        std::printf("the filter runs until PipeWire restarts: run `%s` (or log out and in)\n",
                    kRestart);
    return 0;
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

// One entry of the control block: where its value is in the text.
struct Entry {
    std::string key;
    std::size_t valueAt = 0, valueLength = 0, lineAt = 0;
};

struct ControlBlock {
    std::size_t close = 0; // the closing brace
    std::vector<Entry> entries;
};

bool IsWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '-' ||
           c == '+';
}

// Finds `control = { ... }` outside comments and strings; keys may be quoted or bare.
std::optional<ControlBlock> FindControlBlock(const std::string& t) {
    const std::size_t n = t.size();
    auto skipSpace = [&](std::size_t i) {
        while (i < n) {
            if (t[i] == '#') {
                while (i < n && t[i] != '\n')
                    ++i;
            } else if (std::isspace(static_cast<unsigned char>(t[i])) || t[i] == ',') {
                ++i;
            } else {
                break;
            }
        }
        return i;
    };
    auto token = [&](std::size_t i, std::string& word) {
        word.clear();
        if (i < n && t[i] == '"') {
            std::size_t end = t.find('"', i + 1);
            if (end == std::string::npos) end = n;
            word = t.substr(i + 1, end - i - 1);
            return end < n ? end + 1 : n;
        }
        while (i < n && IsWordChar(t[i]))
            word += t[i++];
        return i;
    };
    std::string word;
    for (std::size_t i = skipSpace(0); i < n; i = skipSpace(i)) {
        const std::size_t after = token(i, word);
        if (after == i) {
            ++i;
            continue;
        }
        i = after;
        if (word != "control") continue;
        std::size_t j = skipSpace(i);
        if (j < n && (t[j] == '=' || t[j] == ':')) j = skipSpace(j + 1);
        if (j >= n || t[j] != '{') continue;
        ControlBlock block;
        for (j = skipSpace(j + 1); j < n && t[j] != '}'; j = skipSpace(j)) {
            Entry e;
            e.lineAt = t.rfind('\n', j) == std::string::npos ? 0 : t.rfind('\n', j) + 1;
            const std::size_t keyEnd = token(j, e.key);
            if (keyEnd == j) return std::nullopt; // something this reader does not know
            j = skipSpace(keyEnd);
            if (j < n && (t[j] == '=' || t[j] == ':')) j = skipSpace(j + 1);
            e.valueAt = j;
            std::string value;
            j = token(j, value);
            e.valueLength = j - e.valueAt;
            if (e.valueLength == 0) return std::nullopt;
            block.entries.push_back(e);
        }
        if (j >= n) return std::nullopt;
        block.close = j;
        return block;
    }
    return std::nullopt;
}

} // namespace

namespace dropin {

std::string Path() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config && config[0] == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/')
            throw DesktopError("neither XDG_CONFIG_HOME nor HOME names a folder");
        base = std::string(home) + "/.config";
    }
    return base + "/pipewire/pipewire.conf.d/vurnel.conf";
}

std::string ValueText(float value) {
    char text[64];
    for (int decimals = 1; decimals <= 12; ++decimals) {
        std::snprintf(text, sizeof text, "%.*f", decimals, static_cast<double>(value));
        if (std::strtof(text, nullptr) == value) return text;
    }
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return text;
}

std::string Text(const float values[kToneControls]) {
    // The example without its own header comment (which tells how to copy it by hand).
    std::string body = kExample;
    while (body.compare(0, 1, "#") == 0)
        body.erase(0, body.find('\n') == std::string::npos ? body.size() : body.find('\n') + 1);
    std::string text =
        std::string(kMark) +
        ": the Vurnel tone control as an output of the desktop's audio.\n"
        "# `vurnel desktop set` changes its control values (on the running filter "
        "and here);\n"
        "# `vurnel desktop remove` takes it away. Cutoffs are in Hz, gains in dB.\n" +
        Trimmed(body) + "\n";
    ToneSettings all;
    for (int c = 0; c < kToneControls; ++c)
        all.value[c] = values[c];
    return WithControls(text, all);
}

bool WrittenByVurnel(const std::string& text) {
    return text.compare(0, std::strlen(kMark), kMark) == 0;
}

ToneSettings Controls(const std::string& text) {
    ToneSettings s;
    const auto block = FindControlBlock(text);
    if (!block) return s;
    for (const Entry& e : block->entries) {
        const std::string value = text.substr(e.valueAt, e.valueLength);
        char* end = nullptr;
        const float f = std::strtof(value.c_str(), &end);
        if (value.empty() || *end != '\0' || !std::isfinite(f)) continue;
        for (int c = 0; c < kToneControls; ++c)
            if (e.key == ToneOptionOf(c).symbol) s.value[c] = f;
    }
    return s;
}

std::string WithControls(const std::string& text, const ToneSettings& settings) {
    const auto block = FindControlBlock(text);
    if (!block) throw DesktopError("the drop-in has no control block vurnel can read");
    // From the end backwards, so the earlier positions stay valid.
    std::vector<std::pair<std::size_t, std::pair<std::size_t, std::string>>> edits;
    std::string added;
    for (int c = 0; c < kToneControls; ++c) {
        if (!settings.value[c]) continue;
        const std::string value = ValueText(*settings.value[c]);
        bool found = false;
        for (const Entry& e : block->entries) {
            if (e.key != ToneOptionOf(c).symbol) continue;
            edits.push_back({e.valueAt, {e.valueLength, value}});
            found = true;
        }
        if (!found) {
            std::string indent = "    ";
            if (!block->entries.empty()) {
                const Entry& last = block->entries.back();
                indent = text.substr(last.lineAt,
                                     text.find_first_not_of(" \t", last.lineAt) - last.lineAt);
            }
            added += indent + "\"" + ToneOptionOf(c).symbol + "\" = " + value + "\n";
        }
    }
    std::string out = text;
    if (!added.empty()) {
        // A new line of its own just before the line that closes the block.
        const std::size_t lineStart = out.rfind('\n', block->close);
        if (lineStart != std::string::npos &&
            out.find_first_not_of(" \t", lineStart + 1) == block->close)
            out.insert(lineStart + 1, added);
        else
            out.insert(block->close, "\n" + added);
    }
    std::sort(edits.begin(), edits.end(),
              [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& [at, edit] : edits)
        out.replace(at, edit.first, edit.second);
    return out;
}

} // namespace dropin

#if VURNEL_HAVE_EDITOR
namespace {

constexpr char kNoFilterMessage[] = "No Vurnel filter is running: run `vurnel desktop install`";

// The editor's face for the desktop: a drag sets the running filter at once and, when the
// gesture ends, the drop-in (as `vurnel desktop set` does); the filter's changes from elsewhere
// come in through the PipeWire connection's descriptor.
class DesktopFace final : public ToneEditorListener {
public:
    explicit DesktopFace(LiveFilter& filter) : live(filter) {}
    ToneEditorWindow* window = nullptr;

    void BeginEdit(int /*control*/) override {}
    void Edit(int control, float value) override {
        ToneSettings s;
        s.value[control] = value;
        try {
            live.Set(s);
        } catch (const std::exception& e) {
            Failed(e.what());
        }
    }
    void EndEdit(int control) override {
        ToneSettings s;
        s.value[control] = window->Value(control);
        try {
            const std::string path = dropin::Path();
            FolderLock lock(Folder(path));
            const DropIn d = ReadDropIn();
            if (d.ours) WriteFile(path, dropin::WithControls(d.text, s));
        } catch (const std::exception& e) {
            Failed(e.what());
        }
    }
    void Failed(const std::string& why) {
        std::fprintf(stderr, "vurnel: %s\n", why.c_str());
        window->SetMessage(why);
    }

private:
    LiveFilter& live;
};

int Edit(const std::vector<std::string>& args) {
    NoArguments(args, "edit");
    LiveFilter live;
    DesktopFace face(live);
    ToneEditorOptions options;
    options.title = "Vurnel tone control";
    ToneEditorWindow window(options, &face);
    face.window = &window;
    if (!window.Open()) throw DesktopError("cannot open a window: no X display (is DISPLAY set?)");
    if (live.running) {
        for (int c = 0; c < kToneControls; ++c)
            if (live.values.value[c]) window.SetValue(c, *live.values.value[c]);
        live.pipewire.WatchControls();
    } else {
        // Nothing to change: the window says what to do and takes no input.
        std::fprintf(stderr, "vurnel: no Vurnel filter is running (%s)\n", live.why.c_str());
        window.SetMessage(kNoFilterMessage);
        window.SetReadOnly(true);
    }
    window.Show();
    std::printf("window 0x%lx\n", window.Id());
    std::fflush(stdout);
    for (;;) {
        pollfd fds[2] = {{window.Descriptor(), POLLIN, 0}, {-1, POLLIN, 0}};
        if (live.running) fds[1].fd = live.pipewire.Descriptor();
        if (!window.EventsQueued() && poll(fds, 2, -1) < 0 && errno != EINTR)
            throw DesktopError(std::string("poll: ") + std::strerror(errno));
        if (!window.HandleEvents()) return 0; // closed: the filter stays as it is
        if (live.running && (fds[1].revents & POLLIN) != 0) {
            try {
                if (const auto changed = live.pipewire.TakeChanges()) {
                    live.values = ToneSettings();
                    for (const auto& [name, value] : *changed) {
                        if (name.compare(0, std::strlen(kControlPrefix), kControlPrefix) != 0)
                            continue;
                        const std::string symbol = name.substr(std::strlen(kControlPrefix));
                        for (int c = 0; c < kToneControls; ++c)
                            if (symbol == ToneOptionOf(c).symbol) window.SetValue(c, value);
                    }
                }
            } catch (const std::exception& e) {
                live.running = false;
                face.Failed(e.what());
                window.SetReadOnly(true);
            }
        }
    }
}

} // namespace
#endif

const char* DesktopUsage() {
    static const std::string usage = std::string(kUsageText) + kToneOptionsHelp;
    return usage.c_str();
}

int RunDesktop(const std::vector<std::string>& args) {
    try {
        const std::string command = args.empty() ? "" : args[0];
        if (command == "install") return Install(args);
        if (command == "set") return Set(args);
        if (command == "show") return Show(args);
        if (command == "remove") return Remove(args);
#if VURNEL_HAVE_EDITOR
        if (command == "edit") return Edit(args);
#endif
        if (command == "--help" || command == "-h") {
            std::fputs(DesktopUsage(), stdout);
            return 0;
        }
        throw DesktopUsageError(command.empty() ? "desktop wants install, set, show, remove or edit"
                                                : "desktop has no command '" + command + "'");
    } catch (const ToneOptionError& e) {
        std::fprintf(stderr, "vurnel: %s\n", e.what());
        return 2;
    } catch (const DesktopUsageError& e) {
        std::fprintf(stderr, "vurnel: %s\nTry 'vurnel desktop --help'.\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vurnel: %s\n", e.what());
        return 1;
    }
}

} // namespace vurnel::host

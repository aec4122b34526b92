// The settings file: key=value; entries, as the plug-in writes them or one a line as a pilot edits them, read into
// the settings and written back byte for byte.
#include "core/Preferences.h"

#include <cstring>
#include <string>

#include "core/ConnectionStatus.h"
#include "core/SimulatorPath.h"
#include "core/SkorvaleSE.h"
#include "net/Protocol.h"
#include "net/ServerAddress.h"
#include "platform/File.h"

namespace {

const char kSettingsFile[] = "Resources/plugins/svprefs.txt";

// Files longer than this were never written by the plug-in; the rest is ignored.
constexpr size_t kReadLimit = 4096;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trimmed(const char *begin, const char *end) {
    while (begin < end && IsBlank(*begin)) begin++;
    while (end > begin && IsBlank(end[-1])) end--;
    return std::string(begin, end);
}

void Apply(const std::string &key, const std::string &value) {
    if (key == "callsign") {
        myCallsign = value;
    } else if (key == "userID") {
        userID = value;
    } else if (key == "password") {
        password = value;
    } else if (key == "crewID") {
        crewID = value;
    } else if (key == "flightMode") {
        flightMode = stringtoi(value);
    } else if (key == "cockpitPosition") {
        cockpitPosition = stringtoi(value);
    } else if (key == "connectAtStartup") {
        connectAtStartup = stringtoi(value);
    } else if (key == "smoothTraffic") {
        smoothTraffic = stringtoi(value);
    } else if (key == "trafficModels") {
        trafficModels = stringtoi(value) != 0 ? 1 : 0;
    } else if (key == "trafficLabels") {
        trafficLabels = stringtoi(value) != 0 ? 1 : 0;
    } else if (key == "labelRangeKm") {
        int km = stringtoi(value);
        labelRangeKm = km < 1 ? 1 : km > 100 ? 100 : km;
    } else if (key == "labelDetails") {
        labelDetails = stringtoi(value) != 0 ? 1 : 0;
    } else if (key == "server") {
        serverSetting = value;
    } else if (key == "defaultModel") {
        defaultModel = value;
    }
}

// Entries end at ";" or at a line break (LF or CRLF, as Notepad and TextEdit save), with blanks (spaces,
// tabs) around "=" and ";" ignored, so a file a pilot has edited by hand reads as they meant it. Every file the plug-in
// wrote reads as before: one line of "key=value;" entries. A key runs to the first "=", a value to the
// entry's end, so a value may hold "=" but not ";". A line without "=" is skipped; an entry cut off by the
// read limit is not applied.
void ParseEntries(const char *text, size_t count, bool whole) {
    const char *end = text + count;
    const char *at = text;
    while (at < end) {
        const char *entryEnd = at;
        while (entryEnd < end && *entryEnd != ';' && *entryEnd != '\n') entryEnd++;
        if (entryEnd == end && !whole) return;
        // The carriage return of a CRLF line end; one anywhere else is an ordinary byte of the value.
        const char *valueEnd =
            entryEnd < end && *entryEnd == '\n' && entryEnd > at && entryEnd[-1] == '\r' ? entryEnd - 1 : entryEnd;
        const char *equals = static_cast<const char *>(std::memchr(at, '=', (size_t)(valueEnd - at)));
        if (equals != nullptr) Apply(Trimmed(at, equals), Trimmed(equals + 1, valueEnd));
        at = entryEnd < end ? entryEnd + 1 : end;
    }
}

void AddEntry(std::string *file, const char *key, const std::string &value) {
    file->append(key);
    file->append("=");
    file->append(value);
    file->append(";");
}

void AddEntry(std::string *file, const char *key, int value) {
    file->append(key);
    AddIntToString(file, "=", value);
    file->append(";");
}

}  // namespace

void LoadPreferences() {
    // Runs inside XPluginStart and XPluginEnable: a FIFO or device under the settings file's name must
    // not hold up the simulator's start, so only a regular file is read.
    std::string path = InSimulatorFolder(kSettingsFile);
    int fd = OpenRegularFile(path);
    if (fd < 0) {
        // No file yet is the usual first start; one that is there and cannot be read is worth a word.
        if (PathExists(path)) LogForPilot("cannot read the settings file " + path + "; the settings are unchanged");
        return;
    }
    char bytes[kReadLimit];
    size_t count = 0;
    bool whole = false;
    while (count < sizeof bytes) {
        long n = ReadFromFile(fd, bytes + count, sizeof bytes - count);
        if (n < 0) LogForPilot("reading the settings file " + path + " failed; the rest of it is ignored");
        if (n <= 0) {
            whole = n == 0;
            break;
        }
        count += (size_t)n;
    }
    CloseFile(fd);

    // A NUL ends the text, as it would for a C string.
    const void *nul = std::memchr(bytes, '\0', count);
    if (nul != nullptr) {
        count = (size_t)(static_cast<const char *>(nul) - bytes);
        whole = true;
    }
    // The byte-order mark a Windows editor may put first.
    size_t start = count >= 3 && std::memcmp(bytes, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    ParseEntries(bytes + start, count - start, whole);
}

void SavePreferences() {
    // The file holds the password in plain text, so a file made here is for its owner only; one that
    // already exists keeps whatever permissions its owner gave it.
    std::string path = InSimulatorFolder(kSettingsFile);
    int fd = CreateOwnerOnlyFile(path);
    if (fd < 0) {
        LogForPilot("cannot write the settings file " + path + "; the settings are kept until X-Plane quits");
        return;
    }

    if (flightMode < 0) flightMode = 0;
    if (cockpitPosition < 0) cockpitPosition = 0;

    std::string text;
    AddEntry(&text, "callsign", myCallsign);
    AddEntry(&text, "userID", userID);
    AddEntry(&text, "password", password);
    AddEntry(&text, "flightMode", flightMode);
    AddEntry(&text, "cockpitPosition", cockpitPosition);
    AddEntry(&text, "crewID", crewID);
    AddEntry(&text, "connectAtStartup", connectAtStartup);
    // Written only when on, so a file saved with it off is the same as before the option existed.
    if (smoothTraffic != 0) AddEntry(&text, "smoothTraffic", smoothTraffic);
    // The instanced mode and the labels likewise: only what differs from the defaults.
    if (trafficModels != 0) AddEntry(&text, "trafficModels", trafficModels);
    if (trafficLabels != 1) AddEntry(&text, "trafficLabels", trafficLabels);
    if (labelRangeKm != kDefaultLabelRangeKm) AddEntry(&text, "labelRangeKm", labelRangeKm);
    if (labelDetails != 0) AddEntry(&text, "labelDetails", labelDetails);
    // Only a server other than the built-in one is written: a file of an older plug-in, or one saved
    // without a server chosen, stays as it was, and an older plug-in ignores the key.
    if (!serverSetting.empty() && serverSetting != BuiltInServer()) AddEntry(&text, "server", serverSetting);
    // Likewise only when the pilot chose a default model of their own.
    if (!defaultModel.empty()) AddEntry(&text, "defaultModel", defaultModel);

    size_t written = 0;
    while (written < text.size()) {
        long n = WriteToFile(fd, text.data() + written, text.size() - written);
        if (n <= 0) {
            LogForPilot("writing the settings file " + path + " failed (a full disk?)");
            break;
        }
        written += (size_t)n;
    }
    CloseFile(fd);
}

// The settings file: seven key=value; (eight with smooth traffic on) entries read with one pattern and written back
// byte for byte.
#include "core/Preferences.h"

#include <pcrecpp.h>

#include <cstring>
#include <string>

#include "core/SimulatorPath.h"
#include "core/SkorvaleSE.h"
#include "net/Protocol.h"
#include "platform/File.h"

namespace {

const char kSettingsFile[] = "Resources/plugins/svprefs.txt";

// Files longer than this were never written by the plug-in; the rest is ignored.
constexpr size_t kReadLimit = 999;

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
    } else if (key == "defaultModel") {
        defaultModel = value;
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
    int fd = OpenRegularFile(InSimulatorFolder(kSettingsFile));
    if (fd < 0) return;
    char bytes[kReadLimit];
    size_t count = 0;
    while (count < sizeof bytes) {
        long n = ReadFromFile(fd, bytes + count, sizeof bytes - count);
        if (n <= 0) break;
        count += (size_t)n;
    }
    CloseFile(fd);

    // A NUL ends the text, as it would for a C string.
    const void *nul = std::memchr(bytes, '\0', count);
    if (nul != nullptr) count = (size_t)(static_cast<const char *>(nul) - bytes);

    static const pcrecpp::RE entry("(.*?)\\=(.*?)\\;");
    pcrecpp::StringPiece input(bytes, (int)count);
    std::string key, value;
    while (entry.Consume(&input, &key, &value)) Apply(key, value);
}

void SavePreferences() {
    // The file holds the password in plain text, so a file made here is for its owner only; one that
    // already exists keeps whatever permissions its owner gave it.
    int fd = CreateOwnerOnlyFile(InSimulatorFolder(kSettingsFile));
    if (fd < 0) return;

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
    // Likewise only when the pilot chose a default model of their own.
    if (!defaultModel.empty()) AddEntry(&text, "defaultModel", defaultModel);

    size_t written = 0;
    while (written < text.size()) {
        long n = WriteToFile(fd, text.data() + written, text.size() - written);
        // A full disk: nothing more can be done without a way to tell the user.
        if (n <= 0) break;
        written += (size_t)n;
    }
    CloseFile(fd);
}

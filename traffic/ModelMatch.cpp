// Model matching: a bounded read of the .acf's ICAO code, the icaoTypes table, and keywords in model paths.
#include "traffic/ModelMatch.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "net/ModelPath.h"
#include "platform/File.h"
#include "traffic/IcaoTypes.h"
#include "traffic/TrafficModels.h"

namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }
char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }
bool AlphaNumeric(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }
bool Digit(char c) { return c >= '0' && c <= '9'; }

// An ICAO type designator: 2 to 4 letters and digits, the first a letter.
bool PlausibleIcao(std::string_view code) {
    if (code.size() < 2 || code.size() > 4 || !std::isalpha(static_cast<unsigned char>(code[0]))) return false;
    for (char c : code)
        if (!AlphaNumeric(c)) return false;
    return true;
}

// Words people put in aircraft folder and file names, and the model each suggests. Short words must be a
// whole word of the path; longer ones may be part of one ("boeing737", "a320neo").
struct Keyword {
    const char *word;
    int model;
};
const Keyword kKeywords[] = {
    // Helicopters and gliders first: their names often hold a type number of an aeroplane too.
    {"helicopter", kHelicopter},
    {"heli", kHelicopter},
    {"robinson", kHelicopter},
    {"r22", kHelicopter},
    {"r44", kHelicopter},
    {"r66", kHelicopter},
    {"ec135", kHelicopter},
    {"h135", kHelicopter},
    {"h145", kHelicopter},
    {"as350", kHelicopter},
    {"bell", kHelicopter},
    {"b407", kHelicopter},
    {"s76", kHelicopter},
    {"aw139", kHelicopter},
    {"uh1", kHelicopter},
    {"uh60", kHelicopter},
    {"chinook", kHelicopter},
    {"cabri", kHelicopter},
    {"glider", kGlider},
    {"sailplane", kGlider},
    {"ask21", kGlider},
    {"ask13", kGlider},
    {"discus", kGlider},
    {"ventus", kGlider},
    {"ls8", kGlider},
    {"dg1000", kGlider},
    {"schleicher", kGlider},
    {"747", kWideBody},
    {"767", kWideBody},
    {"777", kWideBody},
    {"787", kWideBody},
    {"a300", kWideBody},
    {"a310", kWideBody},
    {"a330", kWideBody},
    {"a340", kWideBody},
    {"a350", kWideBody},
    {"a380", kWideBody},
    {"md11", kWideBody},
    {"dc10", kWideBody},
    {"tristar", kWideBody},
    {"dreamliner", kWideBody},
    {"737", kNarrowBody},
    {"727", kNarrowBody},
    {"757", kNarrowBody},
    {"717", kNarrowBody},
    {"a318", kNarrowBody},
    {"a319", kNarrowBody},
    {"a320", kNarrowBody},
    {"a321", kNarrowBody},
    {"md80", kNarrowBody},
    {"md82", kNarrowBody},
    {"md88", kNarrowBody},
    {"dc9", kNarrowBody},
    {"zibo", kNarrowBody},
    {"crj", kRegionalJet},
    {"erj", kRegionalJet},
    {"e170", kRegionalJet},
    {"e175", kRegionalJet},
    {"e190", kRegionalJet},
    {"e195", kRegionalJet},
    {"embraer", kRegionalJet},
    {"ejet", kRegionalJet},
    {"a220", kRegionalJet},
    {"cseries", kRegionalJet},
    {"rj85", kRegionalJet},
    {"bae146", kRegionalJet},
    {"fokker", kRegionalJet},
    {"superjet", kRegionalJet},
    {"citation", kBusinessJet},
    {"learjet", kBusinessJet},
    {"challenger", kBusinessJet},
    {"gulfstream", kBusinessJet},
    {"falcon", kBusinessJet},
    {"phenom", kBusinessJet},
    {"hondajet", kBusinessJet},
    {"cj4", kBusinessJet},
    {"mustang", kBusinessJet},
    {"pc24", kBusinessJet},
    {"eclipse", kBusinessJet},
    {"visionjet", kBusinessJet},
    {"hawker", kBusinessJet},
    {"kingair", kTurboprop},
    {"atr", kTurboprop},
    {"atr72", kTurboprop},
    {"atr42", kTurboprop},
    {"dash8", kTurboprop},
    {"q400", kTurboprop},
    {"dhc8", kTurboprop},
    {"pc12", kTurboprop},
    {"tbm", kTurboprop},
    {"tbm900", kTurboprop},
    {"caravan", kTurboprop},
    {"c208", kTurboprop},
    {"otter", kTurboprop},
    {"saab340", kTurboprop},
    {"jetstream", kTurboprop},
    {"beech1900", kTurboprop},
    {"turboprop", kTurboprop},
    {"baron", kLightTwin},
    {"seneca", kLightTwin},
    {"seminole", kLightTwin},
    {"duchess", kLightTwin},
    {"aztec", kLightTwin},
    {"da42", kLightTwin},
    {"da62", kLightTwin},
    {"twin", kLightTwin},
    {"islander", kLightTwin},
    {"cessna", kLightSingle},
    {"c172", kLightSingle},
    {"172", kLightSingle},
    {"c152", kLightSingle},
    {"c182", kLightSingle},
    {"piper", kLightSingle},
    {"cub", kLightSingle},
    {"cherokee", kLightSingle},
    {"archer", kLightSingle},
    {"cirrus", kLightSingle},
    {"sr22", kLightSingle},
    {"bonanza", kLightSingle},
    {"mooney", kLightSingle},
    {"da40", kLightSingle},
    {"husky", kLightSingle},
    {"kodiak", kLightSingle},
};

// Whether a path word names the keyword: whole short words; long ones or type numbers inside a word.
bool WordHas(const std::string &word, const std::string_view keyword) {
    if (word == keyword) return true;
    bool hasDigit = false;
    for (char c : keyword) hasDigit = hasDigit || Digit(c);
    if (keyword.size() < (hasDigit ? 3u : 5u)) return false;
    return word.find(keyword) != std::string::npos;
}

// The path's words, lower case: the file name's first, then each folder's from the deepest up to the
// "Aircraft" folder, since the file and its own folder name the aircraft, the folders above only group
// it, and those above "Aircraft" are the sender's own (a user called Bell is no helicopter).
std::vector<std::string> PathWords(std::string_view path) {
    std::vector<std::string> pieces;
    std::string current;
    for (char c : path) {
        if (c == '/' || c == '\\' || c == ':') {
            pieces.push_back(current);
            current.clear();
        } else {
            current += Lower(c);
        }
    }
    pieces.push_back(current);
    std::vector<std::string> words;
    for (auto piece = pieces.rbegin(); piece != pieces.rend(); ++piece) {
        if (*piece == "aircraft" && piece != pieces.rbegin()) break;
        std::string word;
        for (char c : *piece + " ") {
            if (AlphaNumeric(c)) {
                word += c;
            } else if (!word.empty()) {
                if (word != "acf") words.push_back(word);
                word.clear();
            }
        }
    }
    return words;
}

}  // namespace

std::string ReadAcfIcao(const std::string &path) {
    int fd = OpenRegularFile(path);
    if (fd < 0) return "";
    std::string text;
    char buffer[8192];
    while (text.size() < kAcfReadLimit) {
        long n = ReadFromFile(fd, buffer, std::min(sizeof buffer, kAcfReadLimit - text.size()));
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    CloseFile(fd);
    // X-Plane's .acf is text; a NUL byte says this is something else.
    if (text.find('\0') != std::string::npos) return "";
    const std::string key = "P acf/_ICAO";
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
        if (at != 0 && text[at - 1] != '\n') continue;
        size_t start = at + key.size();
        if (start >= text.size() || (text[start] != ' ' && text[start] != '\t')) continue;
        while (start < text.size() && (text[start] == ' ' || text[start] == '\t')) start++;
        size_t end = start;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r' && text[end] != ' ') end++;
        // A line cut by the read limit is not trusted.
        if (end == text.size() && text.size() >= kAcfReadLimit) return "";
        std::string code;
        for (size_t i = start; i < end; i++) code += Upper(text[i]);
        return PlausibleIcao(code) ? code : "";
    }
    return "";
}

ModelChoice MatchModel(std::string_view modelPath, std::string_view acfIcao) {
    ModelChoice choice;
    if (PlausibleIcao(acfIcao)) {
        for (char c : acfIcao) choice.icao += Upper(c);
        if (const IcaoType *type = FindIcaoType(choice.icao)) {
            choice.model = type->model;
            choice.source = MatchSource::InstalledAcf;
            return choice;
        }
    }
    const std::string_view path = modelPath.substr(0, std::min(modelPath.size(), kModelPathLimit));
    for (const std::string &word : PathWords(path)) {
        if (const IcaoType *type = PlausibleIcao(word) ? FindIcaoType(word) : nullptr) {
            choice.model = type->model;
            if (choice.icao.empty()) choice.icao = type->icao;
            choice.source = MatchSource::PathWords;
            return choice;
        }
        for (const Keyword &k : kKeywords) {
            if (!WordHas(word, k.word)) continue;
            choice.model = k.model;
            choice.source = MatchSource::PathWords;
            return choice;
        }
    }
    choice.model = kDefaultTrafficModel;
    choice.source = MatchSource::Default;
    return choice;
}

ModelChoice ChooseModel(std::string_view modelPath, const std::string &systemPath) {
    std::string local;
    std::string icao;
    if (LocalModelPath(modelPath, &local)) icao = ReadAcfIcao(systemPath + local);
    return MatchModel(modelPath, icao);
}

std::string DescribeChoice(const ModelChoice &choice) {
    const char *how = choice.source == MatchSource::InstalledAcf ? "from the .acf"
                      : choice.source == MatchSource::PathWords  ? "from the path"
                                                                 : "default";
    const std::string icao = choice.icao.empty() ? "" : choice.icao + ", ";
    return std::string(TrafficModelInfo(choice.model).name) + " (" + icao + how + ")";
}

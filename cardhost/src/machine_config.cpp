#include "cardhost/machine_config.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "cardhost/constants.h"

namespace cardhost {
namespace {


// One line: a keyword and its key=value settings.
struct Line {
    std::string keyword;
    std::map<std::string, std::string> settings;
};

class ConfigError {
public:
    explicit ConfigError(std::string text) : text_(std::move(text)) {}
    const std::string &text() const { return text_; }

private:
    std::string text_;
};

// Splits a line into words; a double-quoted word may hold blanks and '#'.
std::vector<std::string> split_words(const std::string &line) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    bool quoted = false;
    for (char c : line) {
        if (quoted) {
            if (c == '"') {
                quoted = false;
            } else {
                word += c;
            }
            continue;
        }
        if (c == '#') break;
        if (c == ' ' || c == '\t' || c == '\r') {
            if (in_word) words.push_back(std::move(word));
            word.clear();
            in_word = false;
            continue;
        }
        in_word = true;
        if (c == '"') {
            quoted = true;
        } else {
            word += c;
        }
    }
    if (quoted) throw ConfigError("unterminated quote");
    if (in_word) words.push_back(std::move(word));
    return words;
}

Line parse_line(const std::string &text) {
    Line line;
    const std::vector<std::string> words = split_words(text);
    if (words.empty()) return line;
    line.keyword = words.front();
    for (std::size_t i = 1; i < words.size(); ++i) {
        const std::size_t eq = words[i].find('=');
        if (eq == std::string::npos || eq == 0) throw ConfigError("expected key=value, got '" + words[i] + "'");
        std::string key = words[i].substr(0, eq);
        if (line.settings.count(key)) throw ConfigError("'" + key + "' given twice");
        line.settings.emplace(std::move(key), words[i].substr(eq + 1));
    }
    return line;
}

// Reads the settings of one line, refusing keys the keyword does not know.
class Settings {
public:
    Settings(const Line &line, std::initializer_list<const char *> known) : line_(line) {
        for (const auto &[key, value] : line.settings) {
            if (std::none_of(known.begin(), known.end(), [&](const char *k) { return key == k; })) {
                throw ConfigError("unknown key '" + key + "' for '" + line.keyword + "'");
            }
        }
    }

    bool has(const char *key) const { return line_.settings.count(key) != 0; }

    const std::string &text(const char *key) const {
        auto it = line_.settings.find(key);
        if (it == line_.settings.end()) throw ConfigError("'" + line_.keyword + "' needs " + key + "=");
        return it->second;
    }

    std::string text_or(const char *key, const std::string &fallback) const {
        return has(key) ? text(key) : fallback;
    }

    std::uint32_t number(const char *key, std::uint32_t min, std::uint32_t max) const {
        return parse_number(key, text(key), min, max);
    }

    std::uint32_t number_or(const char *key, std::uint32_t fallback, std::uint32_t min, std::uint32_t max) const {
        return has(key) ? number(key, min, max) : fallback;
    }

    static std::uint32_t parse_number(const char *key, const std::string &value, std::uint32_t min,
                                      std::uint32_t max) {
        std::string_view digits(value);
        int base = 10;
        if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
            digits.remove_prefix(2);
            base = 16;
        }
        std::uint32_t result = 0;
        const char *end = digits.data() + digits.size();
        auto [ptr, ec] = std::from_chars(digits.data(), end, result, base);
        if (digits.empty() || ec != std::errc{} || ptr != end) {
            throw ConfigError(std::string(key) + "='" + value + "' is not a number");
        }
        if (result < min || result > max) {
            throw ConfigError(std::string(key) + "=" + value + " is outside " + std::to_string(min) + ".." +
                              std::to_string(max));
        }
        return result;
    }

private:
    const Line &line_;
};

// "a.b.c.d": one to four parts, each 0..65535; missing parts are 0.
void parse_version(const char *key, const std::string &value, std::uint16_t (&version)[4]) {
    std::stringstream parts(value);
    std::string part;
    std::size_t count = 0;
    std::uint16_t result[4] = {0, 0, 0, 0};
    while (std::getline(parts, part, '.')) {
        if (count == 4) throw ConfigError(std::string(key) + "='" + value + "' has more than four parts");
        result[count++] = static_cast<std::uint16_t>(Settings::parse_number(key, part, 0, 0xFFFF));
    }
    if (count == 0) throw ConfigError(std::string(key) + "= is empty");
    std::copy(std::begin(result), std::end(result), std::begin(version));
}

std::vector<std::uint32_t> parse_list(const char *key, const std::string &value, std::uint32_t min,
                                      std::uint32_t max) {
    std::vector<std::uint32_t> list;
    std::stringstream parts(value);
    std::string part;
    while (std::getline(parts, part, ',')) list.push_back(Settings::parse_number(key, part, min, max));
    return list;
}

std::string bounded_text(const char *key, const std::string &value, std::size_t max) {
    if (value.size() > max) throw ConfigError(std::string(key) + "= is longer than " + std::to_string(max));
    return value;
}

void parse_entry(const Line &line, MachineConfig &config, bool &have_card) {
    const std::string &k = line.keyword;
    if (k == "card") {
        if (have_card) throw ConfigError("a second 'card' line");
        Settings s(line, {"name", "model", "serial", "firmware"});
        config.cardName = bounded_text("name", s.text("name"), kMaxCardNameLength);
        config.model = static_cast<std::uint16_t>(s.number("model", 0, 0xFFFF));
        config.serial = bounded_text("serial", s.text_or("serial", ""), kMaxSerialLength);
        if (s.has("firmware")) parse_version("firmware", s.text("firmware"), config.firmware);
        have_card = true;
    } else if (k == "ethercat") {
        Settings s(line, {"state", "cycle_us"});
        const std::string &state = s.text("state");
        if (state != "running" && state != "stopped") throw ConfigError("state= must be running or stopped");
        config.ecatRunning = state == "running";
        config.cyclePeriodUs = s.number_or("cycle_us", kDefaultCyclePeriodUs, kMinCyclePeriodUs, kMaxCyclePeriodUs);
    } else if (k == "module") {
        Settings s(line, {"name", "version"});
        ModuleConfig module;
        module.name = bounded_text("name", s.text("name"), kMaxModuleNameLength);
        parse_version("version", s.text("version"), module.version);
        config.modules.push_back(std::move(module));
    } else if (k == "axis") {
        Settings s(line, {"number", "index", "vendor", "product"});
        AxisConfig axis;
        axis.number = s.number("number", 1, kMaxAxisNumber);
        axis.index = s.number("index", 0, static_cast<std::uint32_t>(kMaxAxes - 1));
        axis.vendorId = s.number_or("vendor", 0, 0, 0xFFFFFFFFu);
        axis.productCode = s.number_or("product", 0, 0, 0xFFFFFFFFu);
        config.axes.push_back(axis);
    } else if (k == "group") {
        Settings s(line, {"number", "axes"});
        GroupConfig group;
        group.number = s.number("number", 1, static_cast<std::uint32_t>(kMaxGroups));
        group.axes = parse_list("axes", s.text("axes"), 1, kMaxAxisNumber);
        config.groups.push_back(std::move(group));
    } else if (k == "io") {
        Settings s(line, {"slave", "di", "ai", "do", "ao", "vendor", "product"});
        IoSlaveConfig io;
        io.slave = s.number("slave", 0, kMaxIoSlaveNumber);
        io.digitalInputs = s.number_or("di", 0, 0, kMaxDigitalInputs);
        io.analogInputs = s.number_or("ai", 0, 0, kMaxIoCount);
        io.digitalOutputs = s.number_or("do", 0, 0, kMaxIoCount);
        io.analogOutputs = s.number_or("ao", 0, 0, kMaxIoCount);
        io.vendorId = s.number_or("vendor", 0, 0, 0xFFFFFFFFu);
        io.productCode = s.number_or("product", 0, 0, 0xFFFFFFFFu);
        config.ioSlaves.push_back(io);
    } else if (k == "compare") {
        Settings s(line, {"output", "axis", "group", "link"});
        CompareConfig compare;
        compare.output = s.number("output", 1, static_cast<std::uint32_t>(kCompareOutputs));
        if (s.has("axis") == s.has("group")) throw ConfigError("'compare' needs exactly one of axis= and group=");
        compare.axis = s.number_or("axis", 0, 1, kMaxAxisNumber);
        compare.group = s.number_or("group", 0, 1, static_cast<std::uint32_t>(kMaxGroups));
        if (s.has("link") && compare.group == 0) throw ConfigError("link= belongs to a group source");
        compare.linkAxis = s.number_or("link", 0, 1, kMaxAxisNumber);
        config.compares.push_back(compare);
    } else if (k == "log") {
        Settings s(line, {"level", "code", "text"});
        LogConfig log;
        log.level = static_cast<std::uint8_t>(s.number("level", 0, 3));
        log.code = s.number("code", 0, 0xFFFFFF);
        log.text = bounded_text("text", s.text("text"), kMaxLogText);
        config.logs.push_back(std::move(log));
    } else {
        throw ConfigError("unknown keyword '" + k + "'");
    }
}

// Cross-line rules: unique numbers, contiguous internal indices, references
// to configured axes and groups.
void check_config(MachineConfig &config, bool have_card) {
    if (!have_card) throw ConfigError("no 'card' line");
    if (config.modules.size() > kMaxModules) throw ConfigError("more than " + std::to_string(kMaxModules) + " modules");
    if (config.axes.size() > kMaxAxes) throw ConfigError("more than " + std::to_string(kMaxAxes) + " axes");
    std::set<std::uint32_t> numbers;
    std::set<std::uint32_t> indices;
    for (const AxisConfig &axis : config.axes) {
        if (!numbers.insert(axis.number).second) throw ConfigError("axis " + std::to_string(axis.number) + " given twice");
        if (!indices.insert(axis.index).second) throw ConfigError("index " + std::to_string(axis.index) + " given twice");
    }
    if (!indices.empty() && *indices.rbegin() != indices.size() - 1) {
        throw ConfigError("axis indices must run from 0 without gaps");
    }
    if (config.groups.size() > kMaxGroups) throw ConfigError("more than " + std::to_string(kMaxGroups) + " groups");
    std::set<std::uint32_t> groups;
    for (const GroupConfig &group : config.groups) {
        const std::string name = "group " + std::to_string(group.number);
        if (!groups.insert(group.number).second) throw ConfigError(name + " given twice");
        if (group.axes.size() < kMinGroupAxes || group.axes.size() > kMaxGroupAxes) {
            throw ConfigError(name + " needs " + std::to_string(kMinGroupAxes) + " to " + std::to_string(kMaxGroupAxes) + " axes");
        }
        std::set<std::uint32_t> members;
        for (std::uint32_t axis : group.axes) {
            if (!config.find_axis(axis)) throw ConfigError(name + ": axis " + std::to_string(axis) + " is not configured");
            if (!members.insert(axis).second) throw ConfigError(name + ": axis " + std::to_string(axis) + " given twice");
        }
    }
    if (config.ioSlaves.size() > kMaxIoSlaves) throw ConfigError("more than " + std::to_string(kMaxIoSlaves) + " I/O slaves");
    std::set<std::uint32_t> slaves;
    for (const IoSlaveConfig &io : config.ioSlaves) {
        if (!slaves.insert(io.slave).second) throw ConfigError("I/O slave " + std::to_string(io.slave) + " given twice");
    }
    std::set<std::uint32_t> outputs;
    for (CompareConfig &compare : config.compares) {
        const std::string name = "compare " + std::to_string(compare.output);
        if (!outputs.insert(compare.output).second) throw ConfigError(name + " given twice");
        if (compare.axis != 0 && !config.find_axis(compare.axis)) throw ConfigError(name + ": axis not configured");
        if (compare.group != 0) {
            const GroupConfig *group = config.find_group(compare.group);
            if (!group) throw ConfigError(name + ": group not configured");
            if (compare.linkAxis == 0) compare.linkAxis = group->axes.front();
            if (std::find(group->axes.begin(), group->axes.end(), compare.linkAxis) == group->axes.end()) {
                throw ConfigError(name + ": link axis is not in the group");
            }
        }
    }
}

}  // namespace

const AxisConfig *MachineConfig::find_axis(std::uint32_t number) const {
    auto it = std::find_if(axes.begin(), axes.end(), [&](const AxisConfig &a) { return a.number == number; });
    return it == axes.end() ? nullptr : &*it;
}

const GroupConfig *MachineConfig::find_group(std::uint32_t number) const {
    auto it = std::find_if(groups.begin(), groups.end(), [&](const GroupConfig &g) { return g.number == number; });
    return it == groups.end() ? nullptr : &*it;
}

std::optional<MachineConfig> parse_machine_config(const std::string &text, std::string *error) {
    MachineConfig config;
    bool have_card = false;
    std::stringstream lines(text);
    std::string line;
    std::size_t number = 0;
    try {
        while (std::getline(lines, line)) {
            ++number;
            if (line.size() > kMaxConfigLine) throw ConfigError("line too long");
            const Line parsed = parse_line(line);
            if (!parsed.keyword.empty()) parse_entry(parsed, config, have_card);
        }
        number = 0;
        check_config(config, have_card);
    } catch (const ConfigError &e) {
        if (error) *error = number ? "line " + std::to_string(number) + ": " + e.text() : e.text();
        return std::nullopt;
    } catch (const std::exception &e) {
        if (error) *error = e.what();
        return std::nullopt;
    }
    return config;
}

std::optional<MachineConfig> load_machine_config(const std::string &path, std::string *error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        if (error) *error = "cannot open " + path;
        return std::nullopt;
    }
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    auto config = parse_machine_config(text, error);
    if (!config && error) *error = path + ": " + *error;
    return config;
}

}  // namespace cardhost

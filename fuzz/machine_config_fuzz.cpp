// The machine-configuration parser on any text, and the shared variables and
// records built from what it accepts.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "cardhost/constants.h"
#include "cardhost/machine_config.h"
#include "cardhost/shared_variables.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    std::string error;
    const auto config = cardhost::parse_machine_config(text, &error);
    if (!config) {
        if (error.empty()) std::abort();  // a refusal always says why
        return 0;
    }
    // What was accepted keeps the limits the records rely on.
    if (config->axes.size() > cardhost::kMaxAxes || config->groups.size() > cardhost::kMaxGroups ||
        config->modules.size() > cardhost::kMaxModules || config->ioSlaves.size() > cardhost::kMaxIoSlaves ||
        config->cardName.size() > cardhost::kMaxCardNameLength) {
        std::abort();
    }
    for (const auto &variable : cardhost::build_shared_variables(*config)) {
        if (variable.bytes.empty()) std::abort();
    }
    (void)cardhost::build_card_info(*config, true);
    (void)cardhost::build_device_list(*config, false);
    for (std::size_t i = 0; i <= config->modules.size(); ++i) (void)cardhost::build_module_info(*config, i);
    return 0;
}

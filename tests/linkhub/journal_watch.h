// Reads back the journal records written after a mark.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace linkhub_test {

struct LoggedLine {
    int level = 0;
    int module = 0;
    int code = 0;  // the 24 bits the record keeps, sign-extended
    std::string text;
};

class JournalWatch {
public:
    JournalWatch();  // marks the journal's current end
    // Records of `module` written since the mark, oldest first.
    std::vector<LoggedLine> lines(int module) const;
    void mark();

private:
    std::uint32_t m_next = 0;
};

}  // namespace linkhub_test

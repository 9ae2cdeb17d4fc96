// Optional text copy of the log: each record appended as one line to the
// file named by $JOURNAL_FILE.
#pragma once

#include "journal.h"

namespace journal {

// Appends `record` when $JOURNAL_FILE names a file; failures are ignored.
void append_to_file(const JournalLogRecord &record);

}  // namespace journal

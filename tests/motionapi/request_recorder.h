// Records the board commands the library hands to the communication layer
// and scripts the data words of the synchronous replies; helpers to read a
// recorded request field by field.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/comm_calls.h"
#include "motion_fixture.h"

namespace motion_test {

using RequestBytes = std::vector<std::uint8_t>;

// Installed over the calls in force while it lives (one at a time); puts
// them back when it goes.
class RequestRecorder {
public:
    RequestRecorder();
    ~RequestRecorder();
    RequestRecorder(const RequestRecorder &) = delete;
    RequestRecorder &operator=(const RequestRecorder &) = delete;

    // Commands sent on the asynchronous link channel, and the synchronous ones.
    std::vector<RequestBytes> async();
    std::vector<RequestBytes> sync();
    void clear();
    // Words 5.. of every later synchronous reply (board result 0).
    void set_reply(std::vector<std::uint32_t> words);
    // The board result (reply word 4) of every later synchronous command
    // with this command word; 0 takes it back.
    void set_board_result(std::uint32_t command, std::int32_t result);
    // The recording calls, to copy and change further.
    const McCommCalls &calls() const { return mine_; }

private:
    static int RecordChannel(int channel, const void *in, std::uint32_t inLen, void *out, std::uint32_t outLen,
                             std::uint32_t *returned);
    static int RecordSync(const void *in, std::uint32_t inLen, void *out, std::uint32_t outLen,
                          std::uint32_t *returned);

    std::mutex lock_;
    std::vector<RequestBytes> async_;
    std::vector<RequestBytes> sync_;
    std::vector<std::uint32_t> reply_words_;
    std::map<std::uint32_t, std::int32_t> board_results_;
    const McCommCalls *previous_;
    McCommCalls fake_{};
    McCommCalls mine_{};
};

// The text of the mark's one line, or a note of how many there were.
std::string only_text(const JournalMark &mark);

// Word k of a request (0 beyond its end).
std::uint32_t Word(const RequestBytes &request, std::size_t k);

// One parameter field of a request, from word 5 on.
struct Field {
    enum Kind { u32, i32, i64, f64 } kind;
    double value;
};
inline Field U(std::uint32_t v) { return {Field::u32, static_cast<double>(v)}; }
inline Field I(std::int32_t v) { return {Field::i32, static_cast<double>(v)}; }
inline Field L(std::int64_t v) { return {Field::i64, static_cast<double>(v)}; }
inline Field D(double v) { return {Field::f64, v}; }

// Checks the fields from word 5 on and the request's length.
void ExpectFields(const RequestBytes &request, const std::vector<Field> &fields);

}  // namespace motion_test

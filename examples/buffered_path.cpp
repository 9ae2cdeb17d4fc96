// buffered_path [CSV [SVG]]
//
// Streams a path of group lines to buffered path channel 0: two sides of a
// rectangle, a slower stretch back and a diagonal to the start, three
// corners in all. The library
// plans the path on the host (S-curve ramps, a speed for every corner) and
// streams it to the board, which runs it. The program samples the axes once
// a millisecond while the board runs the path, prints the end positions and
// writes the samples to a CSV file and an SVG plot (default
// buffered_path.csv and buffered_path.svg in the current folder).
// Exits 0 when the path ended on its last point.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "motionapi.h"

namespace {

constexpr int kChannel = 0;
constexpr uint16_t kGroup = 1;  // axes 1 and 2 in the machine configuration
constexpr int kAxes[] = {1, 2};

// The channel profile: maximum path speed, acceleration, corner
// acceleration and jerk (a jerk selects S-curve ramps).
constexpr double kMaxSpeed = 300.0;       // units/s
constexpr double kAcceleration = 2000.0;  // units/s²
constexpr double kCornerAcceleration = 2000.0;
constexpr double kJerk = 40000.0;  // units/s³

// A group line node (type 5): 4-byte packed, little-endian.
#pragma pack(push, 4)
struct GroupLineNode {
    uint16_t group;
    uint16_t reserved;
    double targets[6];  // in the group's axis order
    double feed;        // path speed, units/s
    uint32_t absolute;  // 0: targets are distances from the previous end
};
#pragma pack(pop)
static_assert(sizeof(GroupLineNode) == 64, "type 5 node size");
constexpr int kNodeGroupLine = 5;
constexpr int kNodeEnd = 1;

struct PathLine {
    double x, y, feed;
    bool absolute;
};
// Two corners at 200 units/s, then 80 units/s, then back to the start.
constexpr PathLine kPath[] = {
    {100.0, 0.0, 200.0, true},
    {100.0, 60.0, 200.0, true},
    {40.0, 60.0, 80.0, true},
    {-40.0, -60.0, 150.0, false},
};
constexpr double kEnd[] = {0.0, 0.0};
constexpr double kTolerance = 0.00001;

constexpr auto kSamplePeriod = std::chrono::milliseconds(1);
constexpr auto kRunLimit = std::chrono::seconds(20);

struct Sample {
    double ms;          // since the path was released
    double position[2]; // axes 1 and 2
    double speed;       // path speed, units/s
};

int send_line(const PathLine &line) {
    GroupLineNode node{};
    node.group = kGroup;
    node.targets[0] = line.x;
    node.targets[1] = line.y;
    node.feed = line.feed;
    node.absolute = line.absolute ? 1 : 0;
    return QAX_CH_SetBufferNode(kChannel, kNodeGroupLine, &node, sizeof node);
}

bool at_end(const Sample &s) {
    return std::fabs(s.position[0] - kEnd[0]) < kTolerance && std::fabs(s.position[1] - kEnd[1]) < kTolerance;
}

// The path is done when the axes stand at its end and the board has run
// every command the channel sent (asked only then: the status query waits
// two board cycles while a channel runs).
bool path_done(const Sample &s) {
    uint32_t running = 1;
    return at_end(s) && QAX_CH_GetStatus(kChannel, 1, &running) == 0 && running == 0;
}

// Samples the positions every millisecond until the path is done (true)
// or the limit. Two position reads per sample keep the board's register
// traffic low, so that the library's background thread streams the path
// undisturbed; the path speed comes from the distance between samples.
bool follow(std::vector<Sample> &samples) {
    using clock = std::chrono::steady_clock;
    const clock::time_point start = clock::now();
    bool left = false;  // the path starts where it ends
    for (clock::time_point next = start; clock::now() - start < kRunLimit; next += kSamplePeriod) {
        std::this_thread::sleep_until(next);
        Sample s{};
        s.ms = std::chrono::duration<double, std::milli>(clock::now() - start).count();
        for (int i = 0; i < 2; ++i) QAX_GetAxisPosition(kAxes[i], &s.position[i]);
        samples.push_back(s);
        left = left || !at_end(s);
        if (left && path_done(s)) return true;
    }
    return false;
}

// The path speed over a short window of samples (a sample's time is the
// host's, not the board's: a window smooths the difference).
void add_speeds(std::vector<Sample> &samples) {
    constexpr std::size_t kWindow = 16;  // samples, about 16 ms
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const Sample &from = samples[i >= kWindow ? i - kWindow : 0];
        const double seconds = (samples[i].ms - from.ms) / 1000.0;
        const double distance =
            std::hypot(samples[i].position[0] - from.position[0], samples[i].position[1] - from.position[1]);
        samples[i].speed = seconds > 0.0 ? distance / seconds : 0.0;
    }
}

// Time in mid-path during which the axes stood still for a few samples or
// more: the board had run every step it was sent. A busy computer can keep
// the virtual board waiting for the stream; a real board's registers answer
// far quicker.
double standstill_ms(const std::vector<Sample> &samples) {
    constexpr double kStallMs = 3.0;  // shorter pauses are sampling jitter
    double still = 0.0;
    double run = 0.0;
    bool moved = false;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        const bool same = samples[i].position[0] == samples[i - 1].position[0] &&
                          samples[i].position[1] == samples[i - 1].position[1];
        if (same && moved && !at_end(samples[i])) {
            run += samples[i].ms - samples[i - 1].ms;
            continue;
        }
        if (run >= kStallMs) still += run;
        run = 0.0;
        moved = moved || !same;
    }
    return still;
}

bool write_csv(const std::string &path, const std::vector<Sample> &samples) {
    std::ofstream out(path);
    out << "time_ms,axis1,axis2,path_speed\n";
    char row[128];
    for (const Sample &s : samples) {
        std::snprintf(row, sizeof row, "%.3f,%.5f,%.5f,%.3f\n", s.ms, s.position[0], s.position[1], s.speed);
        out << row;
    }
    return static_cast<bool>(out);
}

// ------------------------------------------------------------ the plot
// Two charts over time: the axes' positions, and the path speed.
struct Series {
    const char *name;
    const char *colour;
    double (*value)(const Sample &);
};

// A chart of `series` over time; values above `ceiling` (when given) are
// drawn at the top.
void chart(std::ofstream &out, double top, const char *title, const std::vector<Series> &series,
           const std::vector<Sample> &samples, double ceiling = 0.0) {
    constexpr double kLeft = 70.0, kWidth = 760.0, kHeight = 220.0;
    double low = 0.0, high = std::max(1.0, ceiling);
    for (const Series &line : series) {
        for (const Sample &s : samples) {
            low = std::min(low, line.value(s));
            if (ceiling <= 0.0) high = std::max(high, line.value(s));
        }
    }
    const double end = samples.empty() ? 1.0 : std::max(1.0, samples.back().ms);
    auto px = [&](double ms) { return kLeft + kWidth * ms / end; };
    auto py = [&](double v) { return top + kHeight - kHeight * (std::min(v, high) - low) / (high - low); };
    char text[256];
    std::snprintf(text, sizeof text,
                  "<text x='%.0f' y='%.0f' font-weight='bold'>%s</text>\n"
                  "<rect x='%.0f' y='%.0f' width='%.0f' height='%.0f' fill='none' stroke='#888'/>\n",
                  kLeft, top - 8, title, kLeft, top, kWidth, kHeight);
    out << text;
    for (int i = 0; i <= 4; ++i) {  // value and time labels
        const double v = low + (high - low) * i / 4;
        const double ms = end * i / 4;
        std::snprintf(text, sizeof text,
                      "<line x1='%.0f' y1='%.1f' x2='%.0f' y2='%.1f' stroke='#ddd'/>"
                      "<text x='%.0f' y='%.1f' text-anchor='end'>%.1f</text>"
                      "<text x='%.1f' y='%.0f' text-anchor='middle'>%.0f ms</text>\n",
                      kLeft, py(v), kLeft + kWidth, py(v), kLeft - 6, py(v) + 4, v, px(ms), top + kHeight + 16, ms);
        out << text;
    }
    double legend = kLeft + kWidth - 200.0;
    for (const Series &line : series) {
        out << "<polyline fill='none' stroke-width='1.5' stroke='" << line.colour << "' points='";
        for (const Sample &s : samples) {
            std::snprintf(text, sizeof text, "%.1f,%.1f ", px(s.ms), py(line.value(s)));
            out << text;
        }
        out << "'/>\n";
        std::snprintf(text, sizeof text, "<text x='%.0f' y='%.0f' fill='%s'>%s</text>\n", legend, top + 16,
                      line.colour, line.name);
        out << text;
        legend += 100.0;
    }
}

bool write_svg(const std::string &path, const std::vector<Sample> &samples) {
    std::ofstream out(path);
    out << "<svg xmlns='http://www.w3.org/2000/svg' width='860' height='580' font-family='sans-serif' "
           "font-size='12'>\n<rect width='100%' height='100%' fill='white'/>\n";
    chart(out, 30.0, "axis positions (units)",
          {{"axis 1", "#1f77b4", [](const Sample &s) { return s.position[0]; }},
           {"axis 2", "#d62728", [](const Sample &s) { return s.position[1]; }}},
          samples);
    // A stalled stream that catches up shows as a spike: the speed axis ends
    // a little above the profile's maximum speed.
    chart(out, 320.0, "path speed (units/s)", {{"speed", "#2ca02c", [](const Sample &s) { return s.speed; }}},
          samples, kMaxSpeed * 1.2);
    out << "</svg>\n";
    return static_cast<bool>(out);
}

std::string absolute(const std::string &path) { return std::filesystem::absolute(path).string(); }

}  // namespace

int main(int argc, char **argv) {
    const std::string csv = argc > 1 ? argv[1] : "buffered_path.csv";
    const std::string svg = argc > 2 ? argv[2] : "buffered_path.svg";

    const int opened = QAX_Init();
    std::printf("open controller        %d\n", opened);
    if (opened != 0) return 1;
    bool ok = true;
    for (int axis : kAxes) {
        const int on = QAX_SRVONAxis(static_cast<uint16_t>(axis), 1);
        std::printf("servo on axis %d        %d\n", axis, on);
        ok = ok && on == 0;
    }

    // Start the channel and lock it while the path is queued, so that the
    // planner sees every line (and every corner) before the first one runs.
    int r = QAX_CH_Start(kChannel);
    std::printf("start channel %d        %d\n", kChannel, r);
    ok = ok && r == 0 && QAX_CH_Lock(kChannel, 1) == 0 &&
         QAX_CH_SetProfile(kChannel, 0.0, 0.0, kMaxSpeed, kAcceleration, kCornerAcceleration, kJerk) == 0;
    for (const PathLine &line : kPath) {
        r = ok ? send_line(line) : -1;
        std::printf("line to %s(%6.1f, %6.1f) at %5.1f/s   %d\n", line.absolute ? "" : "+", line.x, line.y, line.feed,
                    r);
        ok = ok && r == 0;
    }
    r = ok ? QAX_CH_SetBufferNode(kChannel, kNodeEnd, nullptr, 0) : -1;
    std::printf("end of path            %d\n", r);
    ok = ok && r == 0;

    std::vector<Sample> samples;
    bool finished = false;
    if (ok) {
        QAX_CH_Lock(kChannel, 0);  // release the path
        finished = follow(samples);
        add_speeds(samples);
    } else {
        QAX_CH_Stop(kChannel, 1);
    }
    std::printf("path %s after %.0f ms, %u samples, axes still in mid-path for %.0f ms\n",
                finished ? "ended" : "did NOT end", samples.empty() ? 0.0 : samples.back().ms,
                static_cast<unsigned>(samples.size()), standstill_ms(samples));

    Sample last{};
    for (int i = 0; i < 2; ++i) {
        QAX_GetAxisPosition(kAxes[i], &last.position[i]);
        std::printf("axis %d end position    %.5f\n", kAxes[i], last.position[i]);
    }
    const bool reached = finished && at_end(last);
    if (!samples.empty()) {
        const bool written = write_csv(csv, samples) && write_svg(svg, samples);
        std::printf("samples written        %s\nplot written           %s%s\n", absolute(csv).c_str(),
                    absolute(svg).c_str(), written ? "" : "   (write FAILED)");
        ok = ok && written;
    }

    for (int axis : kAxes) std::printf("servo off axis %d       %d\n", axis, QAX_SRVONAxis(static_cast<uint16_t>(axis), 0));
    std::printf("close controller       %d\n", QAX_Exit());
    return ok && reached ? 0 : 1;
}

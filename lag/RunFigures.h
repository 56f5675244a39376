#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What the window shows of a run, as numbers: its labels' figures, none
// where a label is still blank, and what its button and failure line say.
struct RunFigures {
    bool pinging = false; // the button offers Stop
    int run = 0;          // Starts so far: another number is another run
    std::string host;     // as handed to the engine at the last Start
    std::string address;  // where its requests go, once known
    double sent = 0;      // the counts as the labels show them
    double received = 0;
    int32_t totalLossPercent = 0;
    std::optional<int32_t> averageMs; // over the history, from its first sample on
    std::optional<int32_t> currentMs; // the latest reply's round trip
    std::optional<int16_t> windowLossPercent;
    double intervalMs = 0;        // between requests, as the window set it
    double windowSpanSeconds = 0; // whole seconds the window loss covers at that interval
    std::string failure;          // the failure line; empty while it is hidden
};

// One request as the history took it: answered, with its round trip as the
// engine measured it, or lost.
struct RunSample {
    int seq = 0;
    bool answered = false;
    int32_t roundTripMs = 0;
};

// What the window just handled.
enum class RunEvent {
    Start,
    Stop,
    GaveUp, // the engine stopped on its own; the failure line says why
    RequestSent,
    Samples, // a reply or a loss, with the losses it revealed
    Failure, // the failure line changed
    Interval,
};

// What the window publishes once a handler is done: the event, the figures
// after it, and the samples it added to the history, oldest first.
struct RunUpdate {
    RunEvent event = RunEvent::Start;
    RunFigures figures;
    std::vector<RunSample> added;
};

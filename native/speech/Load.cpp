#include "Load.h"

#include "Out.h"

#include <chrono>
#include <string>
#include <thread>
#include <unistd.h>

namespace tarvine::Load {

namespace {

// One transcript event. Built member by member: an initializer list would first build
// and then copy a temporary array for every member, which dominates the cost of a flood.
Message event(const char* type, const std::string& text) {
    Message message(Message::value_t::object);
    message["type"] = type;
    message["speaker"] = "them";
    message["text"] = text;
    return message;
}

void produce(std::int64_t lines) {
    for (std::int64_t i = 0; i < lines; ++i) {
        std::string words;
        for (int k = 1; k <= 12; ++k) {
            words += "word ";
            Out::emit(event("partial", words));
        }
        Out::emit(event("commit", "line " + std::to_string(i)));
    }
}

} // namespace

void output(std::int64_t lines, int errorFd) {
    auto start = std::chrono::system_clock::now();
    // The producer runs on a thread of its own, as a listening session's engines do; joining
    // it is the moment every event has been handed over.
    std::thread producer(produce, lines < 0 ? 0 : lines);
    producer.join();
    auto elapsed = std::chrono::duration<double>(std::chrono::system_clock::now() - start);
    auto ms = static_cast<std::int64_t>(elapsed.count() * 1000.0);
    std::string report = "reported in " + std::to_string(ms) + " ms\n";
    [[maybe_unused]] auto written = ::write(errorFd, report.data(), report.size());
    Out::flush();
}

} // namespace tarvine::Load

#include "platform/Logger.h"

#include <cstdio>

namespace {

std::mutex sinkMutex;

std::shared_ptr<LogSink>& currentSink() {
    static std::shared_ptr<LogSink> sink = std::make_shared<StderrLogSink>();
    return sink;
}

} // namespace

void StderrLogSink::write(const LogRecord& record) {
    std::string line = "daubly[" + record.category + "]" +
                       (record.level == LogLevel::error ? " error: " : " ") + record.message + "\n";
    std::fputs(line.c_str(), stderr);
}

void CapturingLogSink::write(const LogRecord& record) {
    std::lock_guard lock(m_mutex);
    m_records.push_back(record);
}

std::vector<LogRecord> CapturingLogSink::records() const {
    std::lock_guard lock(m_mutex);
    return m_records;
}

std::vector<std::string> CapturingLogSink::messages(std::string_view category) const {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> result;
    for (const LogRecord& record : m_records) {
        if (record.category == category)
            result.push_back(record.message);
    }
    return result;
}

void CapturingLogSink::clear() {
    std::lock_guard lock(m_mutex);
    m_records.clear();
}

Logger::Logger(std::string subsystem, std::string category)
    : m_subsystem(std::move(subsystem))
    , m_category(std::move(category)) {}

std::string Logger::format(std::string_view format, const std::vector<std::string>& arguments) {
    static constexpr std::string_view placeholders[] = {"%{public}s", "%ld"};
    std::string out;
    out.reserve(format.size() + 16);
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size();) {
        bool replaced = false;
        for (std::string_view placeholder : placeholders) {
            if (format.substr(i, placeholder.size()) == placeholder) {
                out += next < arguments.size() ? arguments[next] : std::string(placeholder);
                ++next;
                i += placeholder.size();
                replaced = true;
                break;
            }
        }
        if (!replaced)
            out += format[i++];
    }
    return out;
}

std::shared_ptr<LogSink> Logger::setSink(std::shared_ptr<LogSink> sink) {
    std::lock_guard lock(sinkMutex);
    if (!sink)
        sink = std::make_shared<StderrLogSink>();
    return std::exchange(currentSink(), std::move(sink));
}

void Logger::write(LogLevel level, std::string_view format,
                   std::vector<std::string> arguments) const {
    LogRecord record{m_subsystem, m_category, level, Logger::format(format, arguments)};
    std::shared_ptr<LogSink> sink;
    {
        std::lock_guard lock(sinkMutex);
        sink = currentSink();
    }
    sink->write(record);
}

ScopedLogCapture::ScopedLogCapture()
    : m_sink(std::make_shared<CapturingLogSink>())
    , m_previous(Logger::setSink(m_sink)) {}

ScopedLogCapture::~ScopedLogCapture() {
    Logger::setSink(m_previous);
}

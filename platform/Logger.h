#pragma once

// The system log: Logger(subsystem, category) with a default and an error level.
// Messages keep the design's printf-like templates; "%{public}s" and "%ld" are
// replaced, in order, by the arguments. Where a line goes is decided by the
// process-wide sink: journald or stderr in the app, a capturing sink in tests.

#include <QString>
#include <concepts>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

enum class LogLevel { normal, error };

struct LogRecord {
    std::string subsystem;
    std::string category;
    LogLevel level = LogLevel::normal;
    std::string message;

    friend bool operator==(const LogRecord&, const LogRecord&) = default;
};

class LogSink {
public:
    virtual ~LogSink() = default;
    // May be called from any thread.
    virtual void write(const LogRecord& record) = 0;
};

class StderrLogSink final : public LogSink {
public:
    void write(const LogRecord& record) override;
};

// Keeps every record; for tests.
class CapturingLogSink final : public LogSink {
public:
    void write(const LogRecord& record) override;
    std::vector<LogRecord> records() const;
    // The messages of one category, in order.
    std::vector<std::string> messages(std::string_view category) const;
    void clear();

private:
    mutable std::mutex m_mutex;
    std::vector<LogRecord> m_records;
};

class Logger {
public:
    // The application id; every component logs under it.
    static constexpr std::string_view appSubsystem = "app.daubly.Daubly";

    Logger(std::string subsystem, std::string category);
    explicit Logger(std::string category)
        : Logger(std::string(appSubsystem), std::move(category)) {}

    template <typename... Args> void log(std::string_view format, const Args&... args) const {
        write(LogLevel::normal, format, {argumentText(args)...});
    }
    template <typename... Args> void error(std::string_view format, const Args&... args) const {
        write(LogLevel::error, format, {argumentText(args)...});
    }

    const std::string& subsystem() const { return m_subsystem; }
    const std::string& category() const { return m_category; }

    // Replaces each "%{public}s" or "%ld" in turn by the next argument.
    static std::string format(std::string_view format, const std::vector<std::string>& arguments);

    // The process-wide sink; answers the previous one. Null restores stderr.
    static std::shared_ptr<LogSink> setSink(std::shared_ptr<LogSink> sink);

private:
    static std::string argumentText(const std::string& s) { return s; }
    static std::string argumentText(std::string_view s) { return std::string(s); }
    static std::string argumentText(const char* s) { return s; }
    static std::string argumentText(const QString& s) { return s.toStdString(); }
    template <std::integral T> static std::string argumentText(T value) {
        return std::to_string(value);
    }

    void write(LogLevel level, std::string_view format, std::vector<std::string> arguments) const;

    std::string m_subsystem;
    std::string m_category;
};

// Installs a CapturingLogSink for its lifetime; restores the previous sink after.
class ScopedLogCapture {
public:
    ScopedLogCapture();
    ~ScopedLogCapture();
    ScopedLogCapture(const ScopedLogCapture&) = delete;
    ScopedLogCapture& operator=(const ScopedLogCapture&) = delete;

    CapturingLogSink& sink() { return *m_sink; }
    std::vector<std::string> messages(std::string_view category) const {
        return m_sink->messages(category);
    }

private:
    std::shared_ptr<CapturingLogSink> m_sink;
    std::shared_ptr<LogSink> m_previous;
};

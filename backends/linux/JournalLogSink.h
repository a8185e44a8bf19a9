#pragma once

#include "platform/Logger.h"

#include <memory>

// Sends records to journald (SYSLOG_IDENTIFIER=daubly) with the subsystem and category
// as fields of their own.
class JournalLogSink final : public LogSink {
public:
    void write(const LogRecord& record) override;

    // The journal when its socket is there, stderr otherwise.
    static std::shared_ptr<LogSink> systemSink();
};

// Output sinks for the driver's console texts (version texts, notices). The
// driver picks one with DecodeAudio::consoleFactory; this system always picks
// the silent one.
#pragma once

#include <cstdio>

class ConsoleStrategy {
public:
    virtual ~ConsoleStrategy() = default;
    // Writes `text` exactly as given (no newline added). A null text writes nothing.
    virtual void writeline(const char* text) = 0;
};

// Writes to standard output.
class SystemConsoleStrategy : public ConsoleStrategy {
public:
    void writeline(const char* text) override {
        if (text != nullptr) {
            std::fputs(text, stdout);
        }
    }
};

// Writes nothing.
class NullConsoleStrategy : public ConsoleStrategy {
public:
    void writeline(const char* /*text*/) override {}
};

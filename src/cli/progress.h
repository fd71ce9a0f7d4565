// The load's progress line, shown only when standard error is a terminal:
// logs and pipes get nothing from it.
#ifndef TAPLINE_CLI_PROGRESS_H
#define TAPLINE_CLI_PROGRESS_H

#include <stdint.h>

class ProgressLine {
  public:
    // Starts the clock for a load of total bytes. Prints nothing yet.
    explicit ProgressLine(uint32_t total);
    ProgressLine(const ProgressLine &) = delete;
    ProgressLine &operator=(const ProgressLine &) = delete;
    ~ProgressLine() { end(); }

    // Redraws the line in place: sent of total bytes are out.
    void update(uint32_t sent);
    // Ends a line that was drawn with a newline, so that what follows
    // starts on a line of its own. Later calls do nothing.
    void end();

  private:
    bool on_;
    bool drawn_ = false;
    int width_ = 0; // characters of the last line drawn
    uint32_t total_;
    unsigned long start_ms_ = 0; // clock_ms() when the load began
};

#endif

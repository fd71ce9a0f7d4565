// The board between runs (TAPSIM_STATE): what every device on the chain
// holds, written as one run ends and read as the next begins, as a powered
// board keeps it between two commands. A versioned, line-based text file
// like the record, with a hash over its lines so that a damaged file is
// refused whole rather than half read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

#include "scenario.h"

namespace tapsim {

constexpr int kStateVersion = 1;

// One walk over an object's state serves both ways: the writer takes the
// values it is shown, the reader sets them. Each class with state to keep
// has one state(StateFields&) naming its fields in file order, so the two
// directions cannot drift apart.
class StateFields {
  public:
    // The next line, keyword first.
    virtual void section(const char *keyword) = 0;
    virtual void number(const char *name, uint64_t &value, uint64_t max,
                        bool hex) = 0;
    // A value the board already has (a device's IR length): the reader
    // refuses a file that says otherwise.
    virtual void expect(const char *name, uint64_t value, bool hex = false) = 0;
    virtual void text(const char *name, std::string &value) = 0;
    // Packed bytes go on lines of their own after the section's line.
    virtual void bytes(const char *name, std::vector<uint8_t> &value,
                       uint64_t max) = 0;
    virtual void words(const char *name, std::vector<uint32_t> &value,
                       size_t max) = 0;
    // The reader refuses a file in which this does not hold.
    virtual void require(bool holds, const char *what) = 0;

    template <class T>
    void count(const char *name, T &value,
               uint64_t max = std::numeric_limits<T>::max())
    {
        field(name, value, max, false);
    }
    template <class T> void code(const char *name, T &value)
    {
        field(name, value, std::numeric_limits<T>::max(), true);
    }
    void flag(const char *name, bool &value) { field(name, value, 1, false); }
    // An enum whose values run from 0 to last.
    template <class E> void choice(const char *name, E &value, int last)
    {
        field(name, value, static_cast<uint64_t>(last), false);
    }

  protected:
    ~StateFields() = default;

  private:
    template <class T>
    void field(const char *name, T &value, uint64_t max, bool hex)
    {
        uint64_t v = static_cast<uint64_t>(value);
        number(name, v, max, hex);
        value = static_cast<T>(v);
    }
};

// The fields of the scenario that describe the board (the rest describe
// the adapter and this run's faults).
void board_state(StateFields &f, Scenario &board);

// Messages for each board variable set in the environment (through get)
// that the board of the file, at path, contradicts.
std::vector<std::string>
board_conflicts(const Scenario &from_env, const Scenario &from_file,
                const std::string &path,
                const std::function<const char *(const char *)> &get);

class StateWriter final : public StateFields {
  public:
    void section(const char *keyword) override;
    void number(const char *name, uint64_t &value, uint64_t max,
                bool hex) override;
    void expect(const char *name, uint64_t value, bool hex) override;
    void text(const char *name, std::string &value) override;
    void bytes(const char *name, std::vector<uint8_t> &value,
               uint64_t max) override;
    void words(const char *name, std::vector<uint32_t> &value,
               size_t max) override;
    void require(bool, const char *) override {}

    // The whole file: version, the sections, the check line and end.
    std::string finish();

  private:
    void flush();

    std::string out_;
    std::string line_;
    std::string data_; // lines after line_
};

class StateReader final : public StateFields {
  public:
    // Checks version and hash first: on failure no section reads anything.
    explicit StateReader(const std::string &file);

    bool ok() const { return error_.empty(); }
    const std::string &error() const { return error_; }

    void section(const char *keyword) override;
    void number(const char *name, uint64_t &value, uint64_t max,
                bool hex) override;
    void expect(const char *name, uint64_t value, bool hex) override;
    void text(const char *name, std::string &value) override;
    void bytes(const char *name, std::vector<uint8_t> &value,
               uint64_t max) override;
    void words(const char *name, std::vector<uint32_t> &value,
               size_t max) override;
    void require(bool holds, const char *what) override;

    // Every line read, every field used.
    void finish();

  private:
    const std::string *field(const char *name);
    void fail(const std::string &why);
    void end_section();

    std::vector<std::string> lines_; // between version and check
    size_t next_ = 0;
    size_t line_no_ = 0; // of the current section, 1-based in the file
    std::vector<std::pair<std::string, std::string>> fields_;
    std::vector<bool> used_;
    std::string error_;
};

// exists false (and true returned) when there is no file yet.
bool read_state_text(const std::string &path, std::string &out, bool &exists,
                     std::string *error);
// Through a new file renamed over the old.
bool write_state_text(const std::string &path, const std::string &text,
                      std::string *error);

} // namespace tapsim

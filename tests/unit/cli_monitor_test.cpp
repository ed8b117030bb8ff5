// quenlo-cli monitor on the in-memory model: the command runs on the test's
// thread, which is the main thread, while a second thread changes the
// model's registry the way another program would and reads the command's
// output as it is written.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <thread>

#include "TestPlatform.h"
#include "app/cli/uCli.h"
#include "app/cli/uCliMonitor.h"
#include "app/uEnvironment.h"
#include "app/uSettings.h"
#include "platform/MainThread.h"
#include "platform/WinConst.h"

namespace quenlo::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using qp::mem::View;

constexpr const char *kKey = "HKCU\\Software\\QuenloMon";
constexpr const char *kKeyJson = "\"HKCU\\\\Software\\\\QuenloMon";
constexpr const char *kIni = "C:\\Users\\user\\AppData\\Local\\Brantel\\quenlo.ini";

// An output stream that another thread may read while it is written: each
// write is appended under a lock and wakes whoever waits for a text.
class TWatchedBuf : public std::streambuf {
public:
  std::string Text() const {
    std::lock_guard<std::mutex> lock(mu_);
    return text_;
  }
  bool WaitFor(const std::function<bool(const std::string &)> &done,
               std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mu_);
    return grown_.wait_for(lock, timeout, [&] { return done(text_); });
  }

protected:
  int_type overflow(int_type ch) override {
    if (traits_type::eq_int_type(ch, traits_type::eof()))
      return traits_type::not_eof(ch);
    const char c = traits_type::to_char_type(ch);
    xsputn(&c, 1);
    return ch;
  }
  std::streamsize xsputn(const char *s, std::streamsize n) override {
    {
      std::lock_guard<std::mutex> lock(mu_);
      text_.append(s, static_cast<std::size_t>(n));
    }
    grown_.notify_all();
    return n;
  }

private:
  mutable std::mutex mu_;
  std::condition_variable grown_;
  std::string text_;
};

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

bool Has(const std::string &text, const std::string &needle) {
  return text.find(needle) != std::string::npos;
}

// One run of the command with a writer thread beside it. A watchdog asks
// the command to stop after a minute, so that a run that ignores its
// deadline fails the test instead of hanging it.
class TMonitorRun {
public:
  using TWriter = std::function<void(TMonitorRun &)>;

  // Returns the exit code; the writer runs while the command does.
  int Run(const std::vector<std::string> &args, const TWriter &writer) {
    std::thread side([&] {
      writer(*this);
      std::unique_lock<std::mutex> lock(mu_);
      if (!ended_.wait_for(lock, 60s, [&] { return finished_; }))
        while (!finished_ && !cli::RequestMonitorStop())
          ended_.wait_for(lock, 10ms);
    });
    const Clock::time_point started = Clock::now();
    const int code = cli::RunCli(args, {out_, err_, false});
    returned = Clock::now();
    elapsed = returned - started;
    {
      std::lock_guard<std::mutex> lock(mu_);
      finished_ = true;
    }
    ended_.notify_all();
    side.join();
    return code;
  }

  // Writer side: waits until the command says it is watching.
  bool WaitWatching() {
    return errBuf_.WaitFor([](const std::string &t) { return Has(t, "watching "); }, 20s);
  }
  // Writer side: waits until the output holds n complete lines.
  bool WaitLines(std::size_t n) {
    return outBuf_.WaitFor([n](const std::string &t) { return Lines(t).size() >= n; }, 10s);
  }
  // Writer side: ends the command; true once it accepted the request.
  bool Stop() {
    for (int tries = 0; tries < 1000; ++tries) {
      if (cli::RequestMonitorStop()) {
        stopRequested = Clock::now();
        return true;
      }
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  std::string Out() const { return outBuf_.Text(); }
  std::string Err() const { return errBuf_.Text(); }

  Clock::duration elapsed{};
  Clock::time_point returned{};
  Clock::time_point stopRequested{};

private:
  TWatchedBuf outBuf_, errBuf_;
  std::ostream out_{&outBuf_}, err_{&errBuf_};
  std::mutex mu_;
  std::condition_variable ended_;
  bool finished_ = false;
};

class ThreadedCliMonitor : public MemoryTest {
protected:
  void SetUp() override {
    MemoryTest::SetUp();
    InitEnvironment();
    qp::MainThread().BindToCurrentThread();
  }

  // Deletes one value through the registry interface, as a program would.
  void DeleteValue(std::string_view name) {
    qp::ScopedKey key;
    ASSERT_EQ(OpenKeyFull(wc::HkeyCurrentUser, rv64, "Software\\QuenloMon", key), 0);
    ASSERT_EQ(qp::Platform().Registry().DeleteValue(key.Get(), name), 0);
  }
};

// The series a script watches for: each change one JSON line, in order,
// each written (and flushed) before the next change is made.
TEST_F(ThreadedCliMonitor, EachChangeIsOneJsonLineAsItHappens) {
  reg.SetString(View::V64, kKey, "keep", "x");
  struct TStep {
    std::function<void()> change;
    const char *action;
    const char *name;
  };
  const std::vector<TStep> steps = {
      {[&] { reg.SetString(View::V64, kKey, "Name", "one"); }, "keCreateValue", "\"Name\""},
      {[&] { reg.SetString(View::V64, kKey, "Name", "two"); }, "keEditValue", "\"Name\""},
      // The same text as REG_EXPAND_SZ: only the type changed.
      {[&] { reg.SetString(View::V64, kKey, "Name", "two", wc::RegExpandSz); }, "keEditValue",
       "REG_EXPAND_SZ"},
      {[&] { reg.CreateKey(View::V64, std::string(kKey) + "\\Sub"); }, "keCreateSubkey",
       "QuenloMon\\\\Sub"},
      {[&] { reg.DeleteTree(View::V64, std::string(kKey) + "\\Sub"); }, "keDeleteSubkey",
       "QuenloMon\\\\Sub"},
      {[&] { DeleteValue("Name"); }, "keDeleteValue", "\"Name\""},
  };
  TMonitorRun run;
  const int code =
      run.Run({"monitor", "--json", "--key", kKey, "--seconds", "120"}, [&](TMonitorRun &r) {
        if (!r.WaitWatching())
          return;
        for (std::size_t i = 0; i < steps.size(); ++i) {
          steps[i].change();
          if (!r.WaitLines(i + 1))
            break;
        }
        EXPECT_TRUE(r.Stop());
      });
  EXPECT_EQ(code, 0) << run.Err();
  EXPECT_TRUE(Has(run.Err(), "watching 1 keys (1 watch points)\n  HKCU\\Software\\QuenloMon\n"))
      << run.Err();
  const std::vector<std::string> lines = Lines(run.Out());
  ASSERT_EQ(lines.size(), steps.size()) << run.Out();
  for (std::size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE(lines[i]);
    EXPECT_EQ(lines[i].front(), '{');
    EXPECT_EQ(lines[i].back(), '}');
    EXPECT_TRUE(Has(lines[i], std::string("\"") + steps[i].action + "\""));
    EXPECT_TRUE(Has(lines[i], steps[i].name));
    EXPECT_TRUE(Has(lines[i], kKeyJson));
    EXPECT_FALSE(Has(lines[i], "\"keep\"")); // the untouched value never shows
  }
  // Stopped within a few polls of the request, not at the deadline.
  EXPECT_LT(run.returned - run.stopRequested, 3s);
  EXPECT_FALSE(Has(run.Err(), "error")) << run.Err();
}

// Without --json one line of text per change, and --seconds is a deadline
// counted in seconds: the command neither ends early nor overstays.
TEST_F(ThreadedCliMonitor, TextLinesEndAtTheDeadline) {
  reg.CreateKey(View::V64, kKey);
  TMonitorRun run;
  const int code = run.Run({"monitor", "--key", kKey, "--seconds", "1"}, [&](TMonitorRun &r) {
    if (r.WaitWatching())
      reg.SetString(View::V64, kKey, "Note", "line1\nline2");
  });
  EXPECT_EQ(code, 0) << run.Err();
  EXPECT_GE(run.elapsed, 1s);
  EXPECT_LT(run.elapsed, 10s);
  const std::vector<std::string> lines = Lines(run.Out());
  ASSERT_EQ(lines.size(), 1u) << run.Out();
  EXPECT_TRUE(Has(lines[0], "  Value created  HKCU\\Software\\QuenloMon  Note  REG_SZ  "
                            "(none) -> line1\\nline2"))
      << lines[0];
  // The line begins with the local date and time to the millisecond.
  ASSERT_GE(lines[0].size(), 23u);
  EXPECT_EQ(lines[0][4], '-');
  EXPECT_EQ(lines[0][10], ' ');
  EXPECT_EQ(lines[0][19], '.');
}

TEST_F(ThreadedCliMonitor, UsageErrorsStartNothing) {
  struct TCase {
    std::vector<std::string> args;
    const char *message;
  };
  std::vector<std::string> tooMany = {"monitor"};
  for (int i = 0; i < 65; ++i) {
    tooMany.push_back("--key");
    tooMany.push_back("HKCU\\Software\\K" + std::to_string(i));
  }
  const std::vector<TCase> cases = {
      {{"monitor", "--seconds", "0"}, "from 1 to 86400, not '0'"},
      {{"monitor", "--seconds", "86401"}, "not '86401'"},
      {{"monitor", "--seconds", "-5"}, "not '-5'"},
      {{"monitor", "--seconds", "1.5"}, "not '1.5'"},
      {{"monitor", "--seconds", "99999999999999999999"}, "from 1 to 86400"},
      {{"monitor", "--seconds"}, "--seconds needs"},
      {{"monitor", "--key"}, "--key needs a key"},
      {{"monitor", "--key="}, "--key needs a key"},
      {{"monitor", "--key", "HKCU"}, "'HKCU' is not a key"},
      {{"monitor", "--key", "HKCU\\Software\\Ok", "--key", "HKXX\\Software"},
       "unknown root key 'HKXX'"},
      {{"monitor", "--verbose"}, "unknown option '--verbose'"},
      {{"monitor", "HKCU\\Software"}, "unknown option"},
      {tooMany, "at most 64 keys"},
  };
  for (const TCase &c : cases) {
    TMonitorRun run;
    const int code = run.Run(c.args, [](TMonitorRun &) {});
    SCOPED_TRACE(c.message);
    EXPECT_EQ(code, 2);
    EXPECT_TRUE(Has(run.Err(), c.message)) << run.Err();
    EXPECT_TRUE(Has(run.Err(), "usage: quenlo-cli")) << run.Err();
    EXPECT_FALSE(Has(run.Err(), "watching")) << run.Err();
    EXPECT_TRUE(run.Out().empty()) << run.Out();
  }
  // No command is running now: Ctrl+C is left to its default handling.
  EXPECT_FALSE(cli::RequestMonitorStop());

  cli::TMonitorOptions options;
  std::string message;
  ASSERT_TRUE(cli::ParseMonitorOptions(
      {"--key=HKCU\\Software\\A", "--seconds=86400", "--json", "--key", "HKLM\\B"}, options,
      message));
  EXPECT_EQ(options.keys, (std::vector<std::string>{"HKCU\\Software\\A", "HKLM\\B"}));
  EXPECT_EQ(options.seconds, 86400);
  EXPECT_TRUE(options.json);
}

// Without --key the settings' monitored keys are watched; an entry there
// that names no key is reported (also as a JSON line) and the rest runs.
TEST_F(ThreadedCliMonitor, SettingsKeysWithABadEntry) {
  fs.AddFile(kIni, "[MonitoredKeys]\r\nHKEY_CURRENT_USER\\Software\\QuenloMon=\r\n"
                   "NoRootHere=\r\n");
  TMonitorRun run;
  const int code = run.Run({"monitor", "--json", "--seconds", "1"}, [&](TMonitorRun &r) {
    if (r.WaitWatching())
      reg.SetDword(View::V64, kKey, "Count", 7);
  });
  EXPECT_EQ(code, 0) << run.Err();
  EXPECT_TRUE(Has(run.Err(), "watching 1 keys (1 watch points)")) << run.Err();
  EXPECT_TRUE(Has(run.Err(), "quenlo-cli monitor: NoRootHere: ")) << run.Err();
  const std::vector<std::string> lines = Lines(run.Out());
  ASSERT_EQ(lines.size(), 2u) << run.Out();
  EXPECT_EQ(lines[0].rfind("{\"error\":", 0), 0u) << lines[0];
  EXPECT_TRUE(Has(lines[0], "\"problem\":\"mpBadEntry\",\"key\":\"NoRootHere\"}")) << lines[0];
  EXPECT_TRUE(Has(lines[1], "\"keCreateValue\"")) << lines[1];
  EXPECT_TRUE(Has(lines[1], "\"Count\"")) << lines[1];
}

// A settings file that cannot be read is said so, and the default keys
// are watched rather than none.
TEST_F(ThreadedCliMonitor, UnreadableSettingsWatchTheDefaultKeys) {
  fs.AddFile(kIni, "[MonitoredKeys]\r\nHKEY_CURRENT_USER\\Software\\QuenloMon=\r\n");
  fs.InjectFailure(qp::mem::MemoryFileSystem::Op::Read, "quenlo.ini", wc::ErrorAccessDenied, 100);
  TMonitorRun run;
  EXPECT_EQ(run.Run({"monitor", "--seconds", "1"}, [](TMonitorRun &) {}), 0) << run.Err();
  EXPECT_TRUE(Has(run.Err(), "the settings could not be read")) << run.Err();
  EXPECT_TRUE(
      Has(run.Err(), "watching " + std::to_string(DefaultMonitoredKeys().size()) + " keys ("))
      << run.Err();
  EXPECT_FALSE(Has(run.Err(), "QuenloMon")) << run.Err();
}

TEST_F(ThreadedCliMonitor, NoKeyToWatchExitsOne) {
  fs.AddFile(kIni, "[MonitoredKeys]\r\n");
  TMonitorRun empty;
  EXPECT_EQ(empty.Run({"monitor", "--seconds", "5"}, [](TMonitorRun &) {}), 1);
  EXPECT_TRUE(Has(empty.Err(), "no key to watch")) << empty.Err();
  EXPECT_FALSE(Has(empty.Err(), "watching")) << empty.Err();

  fs.AddFile(kIni, "[MonitoredKeys]\r\nNoRoot=\r\nHKXX\\Software=\r\n");
  TMonitorRun bad;
  EXPECT_EQ(bad.Run({"monitor", "--seconds", "5"}, [](TMonitorRun &) {}), 1);
  EXPECT_TRUE(Has(bad.Err(), "none of the 2 keys")) << bad.Err();
  EXPECT_LT(bad.elapsed, 5s); // it did not wait for the deadline
}

// A key that does not exist yet is watched all the same: it is reported
// once it is created.
TEST_F(ThreadedCliMonitor, AMissingKeyIsWatchedUntilItComes) {
  TMonitorRun run;
  const int code =
      run.Run({"monitor", "--json", "--key", kKey, "--seconds", "120"}, [&](TMonitorRun &r) {
        if (!r.WaitWatching())
          return;
        reg.SetString(View::V64, kKey, "Late", "here");
        r.WaitLines(1);
        EXPECT_TRUE(r.Stop());
      });
  EXPECT_EQ(code, 0) << run.Err();
  const std::vector<std::string> lines = Lines(run.Out());
  ASSERT_EQ(lines.size(), 1u) << run.Out();
  EXPECT_TRUE(Has(lines[0], "\"keCreateValue\"")) << lines[0];
  EXPECT_TRUE(Has(lines[0], "\"Late\"")) << lines[0];
}

// A key of HKLM\SOFTWARE has two views: both are watched (the same key
// given twice is watched once), and a 32-bit write is reported once, by
// the 32-bit view.
TEST_F(ThreadedCliMonitor, AKeyWithTwoViewsIsWatchedInBoth) {
  const char *key = "HKLM\\SOFTWARE\\QuenloMon";
  reg.CreateKey(View::V64, key);
  reg.CreateKey(View::V32, key);
  TMonitorRun run;
  const int code = run.Run({"monitor", "--json", "--key", key, "--key",
                            "hkey_local_machine\\software\\quenlomon", "--seconds", "120"},
                           [&](TMonitorRun &r) {
                             if (!r.WaitWatching())
                               return;
                             reg.SetString(View::V32, key, "Bits", "32");
                             r.WaitLines(1);
                             // Let a wrong second report arrive before stopping.
                             std::this_thread::sleep_for(500ms);
                             EXPECT_TRUE(r.Stop());
                           });
  EXPECT_EQ(code, 0) << run.Err();
  EXPECT_TRUE(Has(run.Err(), "watching 1 keys (2 watch points)")) << run.Err();
  EXPECT_TRUE(Has(run.Err(), "HKLM\\SOFTWARE\\Wow6432Node\\QuenloMon (32-bit view)")) << run.Err();
  EXPECT_TRUE(Has(run.Err(), "HKLM\\SOFTWARE\\QuenloMon (64-bit view)")) << run.Err();
  const std::vector<std::string> lines = Lines(run.Out());
  ASSERT_EQ(lines.size(), 1u) << run.Out();
  EXPECT_TRUE(Has(lines[0], "\"Bits\"")) << lines[0];
  EXPECT_TRUE(Has(lines[0], "32-bit")) << lines[0];
  EXPECT_TRUE(Has(lines[0], "Wow6432Node")) << lines[0];
}

} // namespace
} // namespace quenlo::test

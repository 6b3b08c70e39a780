#include "sim/sim_pipes.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <ostream>

#include "common/failure.h"
#include "sim/cart/cart_build.h"
#include "sim/console/mgba/mgba_cart.h"
#include "sim/screen/png_writer.h"
#include "sim/screen/screen_recorder.h"
#include "sim/simulator.h"
#include "sim/state/state_lock.h"

namespace kartex {

namespace {

// Far more than the agent needs to store a word and arm the port again.
constexpr std::uint64_t CATCH_UP_INSTRUCTIONS = 1'000'000;

// Owns the simulator for the process; at the end it keeps the state (when
// asked) and reports.
class SimTransport : public Pipes {
 public:
  SimTransport(const SimOptions& options, std::ostream& report, int timeout_ms, std::shared_ptr<HardwareTime> time)
      : options_(options),
        report_(report),
        sim_(nullptr, times(options, timeout_ms), &report, options.core),
        time_(std::move(time)),
        hardware_ms_at_open_(time_ ? time_->ms() : 0) {
    // Held from before the state is read until after it is kept again.
    if (!options.state_dir.empty()) lock_.emplace(options.state_dir);
    bool has_cart = false;
    if (!options.state_dir.empty()) has_cart = sim_.load_state(options.state_dir);
    for (const LinkFault& fault : options.faults) sim_.cable().add_fault(fault);
    // A kept cartridge (with its save chip) stays in the slot unless swap
    // asks for another; rom=, chip=, size=, mapper=, mirror, protect=, save=, save-image= and
    // save-fault= describe a new one. A swap leaves the cable and the console running,
    // as pulling one cartridge and pushing in another does.
    if (!has_cart || options.swap) {
      if (options.core == SimCore::Mgba)
        sim_.set_cart(build_mgba_cart(options));
      else
        sim_.set_cart(build_cartridge(options, sim_.log()));
    } else if (!options.rom_file.empty() || !options.chip.empty() || options.size_mib || !options.mapper ||
               options.mirror || !options.protect.empty() || options.d0d1 || options.rtc || options.save != "none" ||
               !options.save_image.empty() || !options.save_faults.empty()) {
      sim_.log().note("cartridge",
                      "the kept cartridge stays in the slot; rom=, chip=, size=, mapper=, mirror, protect=, d0d1, "
                      "rtc=, save=, save-image= and save-fault= are not used (swap replaces it)");
    }
    sim_.set_key_script(options.keys);
    if (!options.screens_dir.empty()) {
      screens_.emplace(options.screens_dir);
      watch_display();
    }
  }

  ~SimTransport() override {
    // A run that failed before finish() keeps its state too, as the real
    // console and cartridge keep what happened to them; its failure is
    // already the run's.
    try {
      if (!finished_) finish();
    } catch (const std::exception& e) {
      report_ << "sim: " << e.what() << '\n';
    }
    if (options_.stats) {
      const SimStats s = sim_.stats();
      report_ << "sim: " << s.words_to_console << " words to the console, " << s.words_from_console
              << " words from the console, ";
      if (sim_.core() == SimCore::Mgba)
        report_ << s.cpu_cycles << " CPU cycles (mGBA), " << s.turnaround_cycles
                << " of them from a word's end to the next arming\n";
      else
        report_ << s.instructions << " instructions\n";
      char line[96];
      const double total = simtime::seconds(s.hardware_time);
      std::snprintf(line, sizeof line, "sim: hardware time %.3f s, link busy %.1f%%\n", total,
                    total > 0 ? 100.0 * simtime::seconds(s.link_busy) / total : 0.0);
      report_ << line;
    }
    report_.flush();
  }

  PipeResult write(Pipe pipe, std::span<const std::uint8_t> bytes) override {
    return watched(sim_.pipes().write(pipe, bytes));
  }
  PipeResult read(Pipe pipe, std::span<std::uint8_t> bytes) override {
    return watched(sim_.pipes().read(pipe, bytes));
  }
  PipeResult reset(Pipe pipe) override { return watched(sim_.pipes().reset(pipe)); }
  void set_timeout(int ms) override { sim_.cable().set_timeout(ms); }

  void finish() override {
    finished_ = true;
    if (screens_) {
      catch_up();
      watch_display();
    }
    if (!options_.state_dir.empty()) {
      sim_.save_state(options_.state_dir);
      write_png((std::filesystem::path(options_.state_dir) / "screen.png").string(), sim_.screen());
    }
  }

 private:
  static CableTimes times(const SimOptions& options, int timeout_ms) {
    CableTimes t;
    t.timeout_ms = timeout_ms;
    t.hardware = {options.link_hz, options.usb_latency_us};
    t.loader = options.loader;
    return t;
  }

  // The console stores the last word it received only when it next runs.
  // The real one runs on after the host is gone: let it run until it waits
  // on the link port again, so that a switch by the run's last transfer is
  // kept too.
  void catch_up() {
    LinkConsole& console = sim_.link_console();
    if (console.running() && !console.link_armed() && console.fault().empty())
      console.run(CATCH_UP_INSTRUCTIONS);
  }

  // The console runs only while the host moves something: looking at the
  // display after every transfer sees each page switch before the host
  // sends the next picture, which goes to the other page.
  void watch_display() {
    if (screens_)
      screens_->observe(sim_.dispcnt(), [this] { return sim_.screen(); });
  }
  PipeResult watched(PipeResult result) {
    watch_display();
    if (time_) time_->set(hardware_ms_at_open_ + simtime::whole_milliseconds(sim_.stats().hardware_time));
    return result;
  }

  SimOptions options_;
  std::ostream& report_;
  std::optional<StateLock> lock_;  // before sim_: released after the state is kept
  bool finished_ = false;
  Simulator sim_;
  std::optional<ScreenRecorder> screens_;
  std::shared_ptr<HardwareTime> time_;
  std::int64_t hardware_ms_at_open_;
};

}  // namespace

std::unique_ptr<Pipes> open_sim_cable(const SimOptions& options, std::ostream& report, int timeout_ms,
                                      std::shared_ptr<HardwareTime> time) {
  return std::make_unique<SimTransport>(options, report, timeout_ms, std::move(time));
}

}  // namespace kartex

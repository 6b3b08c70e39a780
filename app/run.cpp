#include "app/run.h"

#include <csignal>
#include <exception>
#include <optional>
#include <sstream>

#include "app/agent_identity.h"
#include "app/cli.h"
#include "app/confirm_erase.h"
#include "app/dat_sources.h"
#include "app/default_name.h"
#include "app/report_json.h"
#include "app/run_results.h"
#include "app/save_clock.h"
#include "cart/cart_describe.h"
#include "cart/dat_match.h"
#include "cart/rom_reader.h"
#include "cart/rom_report.h"
#include "common/digests.h"
#include "common/output.h"
#include "app/host_file.h"
#include "app/interrupt.h"
#include "app/session.h"
#include "app/session_state.h"
#include "app/usage.h"
#include "cart/commands.h"
#include "host/clock_stamp.h"
#include "host/host_file_service.h"
#include "link/session_marker.h"
#include "host/host_files.h"
#include "host/program_file.h"
#include "common/failure.h"
#include "vts/clock_playback.h"
#include "vts/dxplay.h"
#include "vts/vts_play.h"
#include "common/original_lines.h"

namespace kartex {

namespace {

std::string cant_open(const std::string& name) {
  return strprintf(LINE_CANT_OPEN, name.empty() ? "(no file name)" : name.c_str());
}

// The fixed line on standard output (and what follows it there), then the
// system's reason as our own diagnostic.
[[noreturn]] void fail_open(const std::string& name, const char* doing, const std::string& reason,
                            const std::string& then_out = {}) {
  throw Failure(cant_open(name) + then_out, Failure::Stream::Out, EXIT_FATAL,
                std::string("cannot ") + doing + " " + (name.empty() ? "(no file name)" : name) + ": " +
                    reason);
}

// A dump named "-" goes to standard output, which then carries nothing else.
bool dumps_to_standard_output(const CommandLine& line) {
  const Invocation& inv = line.invocation;
  return line.action == CommandLine::Action::Run &&
         (inv.command == Command::FR || inv.command == Command::SR) &&
         inv.file_name == STANDARD_OUTPUT_NAME;
}

// Everything the run needs from the host before the cable is touched.
struct HostSide {
  std::vector<std::uint8_t> input;     // FW, FA, SW
  std::optional<OutputFile> output;    // FR, SR; without a name, once the header is known
  std::optional<OutputFile> report;    // --report
  RunResults results;
};

HostSide open_host_file(const Invocation& inv, std::ostream& standard_output) {
  HostSide host;
  std::string reason;
  switch (inv.command) {
    case Command::FR:
    case Command::SR:
      if (inv.default_name) break;
      host.output = OutputFile::create(inv.file_name, &reason, &standard_output);
      if (!host.output) fail_open(inv.file_name, "write", reason);
      break;
    case Command::FW:
    case Command::FA:
    case Command::SW: {
      auto data = read_host_file(inv.file_name, &reason);
      if (!data) fail_open(inv.file_name, "read", reason);
      host.input = std::move(*data);
      break;
    }
    default: break;
  }
  return host;
}

// The program of `rtc`, read whole before the cable is touched.
std::vector<std::uint8_t> load_program(const Invocation& inv) {
  std::string reason;
  auto program = read_program_file(inv.file_name, &reason);
  if (!program) {
    // Only here does the usage follow the line, as the original tool printed it.
    std::ostringstream usage;
    print_usage(usage);
    fail_open(inv.file_name, "read", reason, usage.str());
  }
  HostFiles{inv.files_folder};  // a --files folder that cannot be opened fails here, cable untouched
  return std::move(*program);
}

// Serves the loaded program until the service is told to end.
void serve_program(CableLink& link, const Invocation& inv, RunEnv& env, Output& con) {
  HostFiles files(inv.files_folder, [&con](const std::string& line) {
    if (con.mid_line) con.err << '\n';
    con.err << "kartex: " << line << '\n' << std::flush;
  });
  ServiceOptions options;
  options.stop = env.service_stop ? env.service_stop
                                  : [](std::uint64_t) { return InterruptCatcher::caught(); };
  con.err << "kartex: serving the program until Ctrl-C; its files live in " << files.folder_name()
          << '\n' << std::flush;
  host_file_service(link, files, con, options);
  if (con.mid_line) con.print("\n");
}

// After a failure or an interruption the agent may be in the middle of a
// transfer that the next command would take for answers: the marker goes,
// so the next command restarts the console and loads the agent afresh.
// Best effort: the cable may be what failed.
void leave_link_clean(CableLink& link) noexcept {
  try {
    link.set_stop(nullptr);
    link.reset_failed_pipes();
    clear_session_mark(link);
  } catch (const Failure&) {
  }
}

// The video stream; a set-up that failed (its line printed) is a failed
// run, while the link stays as good as it was. On a simulator asked to,
// playback follows the console's hardware time instead of the host's.
int stream_video(CableLink& link, const Invocation& inv, const PlaybackClock& hardware_clock, RunEnv& env,
                 Output& con) {
  MediaOpeners openers = media_openers(env.video_outputs);
  if (hardware_clock) openers = following_clock(std::move(openers), hardware_clock);
  DxPlay source(std::move(openers), con, env.sleep);
  VtsEnv vts{env.sleep, env.clock, inv.plain_video};
  // The figures count the seconds the playback follows.
  vts.hardware_ms = hardware_clock;
  return vts_play(link, inv.file_name, source, con, vts) == 0 ? EXIT_OK : EXIT_FATAL;
}

int run_on_link(CableLink& link, const CommandLine& line, RunEnv& env, Output& con, HostSide& host,
                std::vector<std::uint8_t>& program, const PlaybackClock& hardware_clock);

// The report file and the catalogues, before the cable is touched: a
// report that cannot be written stops the run there; a catalogue that
// cannot be read costs one line and its entries, never the dump.
void prepare_results(const Invocation& inv, RunEnv& env, HostSide& host) {
  if (!inv.report_file.empty()) {
    std::string reason;
    host.report = OutputFile::create(inv.report_file, &reason);
    if (!host.report) fail("cannot write the report " + inv.report_file + ": " + reason);
  }
  if (inv.command != Command::FR && inv.command != Command::SR) return;
  const std::filesystem::path folder = env.dat_folder ? *env.dat_folder : user_dat_folder();
  host.results.dats = load_dat_files(inv.dat_files, folder, [&](const std::string& line) {
    env.err << "kartex: " << line << '\n' << std::flush;
    host.results.dat_problems.push_back(line);
  });
}

// fr and sr without a file name: the header names the dump.
void open_default_output(CableLink& link, const CartInfo& cart, const Invocation& inv, Output& con,
                         HostSide& host) {
  std::optional<RomHeader> header;
  if (cart.rom_kind != ROM_KIND_NONE && cart.rom_size >= static_cast<std::int32_t>(ROM_HEADER_END))
    header = parse_rom_header(
        read_rom_checked(link, 0, static_cast<std::uint32_t>(ROM_HEADER_END), std::nullopt));
  const std::string name =
      default_dump_name(header ? &*header : nullptr, inv.command == Command::FR ? ".gba" : ".sav");
  std::string reason;
  host.output = OutputFile::create(name, &reason);
  if (!host.output) fail_open(name, "write", reason);
  host.results.dump_file = name;
  host.results.header = header;
  con.print("Dump file: %s\n", name.c_str());
}

void check_against_dats(Output& con, HostSide& host, bool save) {
  RunResults& r = host.results;
  r.dump_is_save = save;
  // A part of the ROM is no catalogue's entry.
  if (!r.dump->whole) return;
  r.verdict = match_dump(r.dats, *r.dump, save);
  print_dat_verdict(con, *r.verdict);
}

WriteFacts write_facts(const Invocation& inv, const std::vector<std::uint8_t>& file) {
  WriteFacts w;
  w.file = inv.file_name;
  w.file_size = file.size();
  Digests digests;
  digests.update(file);
  w.file_digests = digests.finish();
  w.offset = inv.start_offset;
  w.length = inv.length;
  w.verify = inv.write.verify;
  return w;
}

// Standard output that no longer takes our lines (a closed pipe: SIGPIPE is
// ignored) stops the command as Ctrl-C does.
bool output_failed(const Output& con, const RunEnv& env) { return con.out.fail() || env.out.fail(); }

// Why a command stopped at a block's end, as its one line and status.
Failure stopped_failure(const Failure& stop, const Output& con, const RunEnv& env) {
  const std::string rest = "stopped after the last whole block; the next command starts the console afresh";
  if (output_failed(con, env)) return Failure("writing standard output failed: " + rest);
  const int sig = InterruptCatcher::signal_number();
  if (sig == SIGTERM) return Failure("terminated (SIGTERM): " + rest, Failure::Stream::Err, 128 + sig);
#ifdef SIGHUP
  if (sig == SIGHUP) return Failure("hung up (SIGHUP): " + rest, Failure::Stream::Err, 128 + sig);
#endif
  return stop;
}

int run_command(const CommandLine& line, RunEnv& env, Output& con) {
  const Invocation& inv = line.invocation;
  // Signals from here on: the command stops at the end of a block (a second
  // one ends the process at once, its part file removed).
  InterruptCatcher interrupt;
  std::vector<std::uint8_t> program;
  if (inv.command == Command::RTC) program = load_program(inv);
  HostSide host = open_host_file(inv, env.out);
  prepare_results(inv, env, host);

  const std::function<bool()> asked =
      env.interrupted ? env.interrupted : [] { return InterruptCatcher::caught(); };
  const std::function<bool()> stop = [asked, &con, &env] { return asked() || output_failed(con, env); };
  con.stop_requested = stop;
  // On a simulator asked to, the video's playback follows its hardware time.
  PlaybackClock hardware_clock;
  PipesOpener opener =
      env.opener ? env.opener(line.transport) : make_opener(line.transport, env.err, &hardware_clock);
  CableLink link(std::move(opener), env.sleep, &env.err);
  link.set_stop(stop);
  link.set_timeout(line.transport.timeout_ms);
  int status = EXIT_OK;
  try {
    status = run_on_link(link, line, env, con, host, program, hardware_clock);
  } catch (const Failure& f) {
    leave_link_clean(link);
    if (f.status() == EXIT_INTERRUPTED) throw stopped_failure(f, con, env);
    throw;
  }
  // A simulator's state that could not be kept loses what the command did:
  // that fails the run.
  link.finish();
  return status;
}

int run_on_link(CableLink& link, const CommandLine& line, RunEnv& env, Output& con, HostSide& host,
                std::vector<std::uint8_t>& program, const PlaybackClock& hardware_clock) {
  const Invocation& inv = line.invocation;
  link.link_start();
  std::uint32_t agent_id = 0;
  if (inv.command == Command::RTC) {
    // Stamped after the handshake, however long that took, just before it is sent.
    stamp_clock(program, con, env.clock);
  } else {
    program = agent_upload_image();
    agent_id = agent_identity();
  }
  Session session(link);
  const CartInfo cart = session_bringup(link, session, inv.command, program, con, agent_id);
  const Range range{inv.start_offset, inv.length};
  RunResults& results = host.results;
  if (inv.command != Command::RTC) results.cart = cart;
  if (!inv.default_name) results.dump_file = inv.file_name;
  const auto began = con.now();
  int status = EXIT_OK;
  switch (inv.command) {
    case Command::FR:
      if (inv.default_name) open_default_output(link, cart, inv, con, host);
      results.dump = flash_read(link, cart, range, *host.output, con);
      if (results.dump->header) results.header = results.dump->header;
      check_against_dats(con, host, false);
      break;
    case Command::FW:
      results.write = write_facts(inv, host.input);
      flash_write(link, cart, range, host.input, con, inv.write);
      break;
    case Command::FA:
      results.write = write_facts(inv, host.input);
      flash_append(link, cart, range, host.input, con, inv.write);
      break;
    case Command::FE:
      if (!inv.yes && env.in_is_terminal && env.in) confirm_erase(link, cart, con, *env.in);
      flash_erase(link, cart, con);
      results.erased = static_cast<std::uint64_t>(std::max(cart.rom_size, 0));
      break;
    case Command::SR: {
      // The clock is read first: a cartridge without one writes no file.
      std::optional<ClockReading> clock;
      std::time_t latched = 0;
      if (inv.clock) {
        clock = required_clock(link, "sr");
        latched = env.clock();
        results.clock_read = true;
        results.clock = clock;
      }
      if (inv.default_name) open_default_output(link, cart, inv, con, host);
      results.dump = save_read(link, cart, range, *host.output, con, inv.eeprom_order);
      if (clock) {
        const ClockRecord record = clock_record(*clock, latched);
        host.output->write(record);
        con.print("Clock: %s kept after the save\n", format_clock_time(*clock->time).c_str());
      }
      check_against_dats(con, host, true);
      break;
    }
    case Command::SW:
      results.write = write_facts(inv, host.input);
      if (inv.clock) {
        const SaveWithClock file = split_save_file(cart, inv.file_name, host.input);
        results.clock = required_clock(link, "sw");
        results.clock_read = true;
        save_write(link, cart, range, file.save, con, inv.eeprom_order, inv.write);
        restore_clock(link, file.clock, env.clock(), con);
      } else {
        save_write(link, cart, range, host.input, con, inv.eeprom_order, inv.write);
      }
      break;
    case Command::INFO: {
      if (inv.set_clock) set_clock_to_host(link, env.clock(), con);
      const CartDescription d = describe_cartridge(link, cart, con);
      results.header = d.header;
      results.chip = d.chip;
      results.clock_read = true;
      results.clock = d.clock;
      break;
    }
    case Command::RTC: serve_program(link, inv, env, con); break;
    case Command::VTS: status = stream_video(link, inv, hardware_clock, env, con); break;
    default: break;
  }
  // Lines that never reached their reader make a failed run, and a dump
  // is not put in place behind them.
  con.out.flush();
  if (output_failed(con, env)) fail("writing standard output failed");
  if (inv.command == Command::FW || inv.command == Command::FA || inv.command == Command::FE)
    remember_cart_fingerprint(link, session);
  if (host.output) host.output->commit();
  results.elapsed = con.now() - began;
  if (host.report) {
    const std::string text = report_text(inv, results);
    host.report->write(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    host.report->commit();
  }
  return status;
}

}  // namespace

int run(const std::vector<std::string>& args, RunEnv& env) {
  // The command line is read before the banner: a dump to standard output
  // moves the banner, the lines and the marks to standard error.
  std::optional<CommandLine> parsed;
  std::exception_ptr refused;
  try {
    parsed = parse_command_line(args);
  } catch (const Failure&) {
    refused = std::current_exception();
  }
  std::ostream& out = parsed && dumps_to_standard_output(*parsed) ? env.err : env.out;
  Output con{.out = out, .err = env.err, .progress_bar = env.progress_bar,
             .marks_in_bar = env.marks_in_bar};
  if (env.now) con.now = env.now;
  con.print("%s", LINE_BANNER);
  try {
    if (refused) std::rethrow_exception(refused);
    CommandLine& line = *parsed;
    if (line.transport.sim && line.transport.sim->help) {
      out << sim_help_text() << std::flush;
      return EXIT_OK;
    }
    switch (line.action) {
      case CommandLine::Action::Help: print_help(out); return EXIT_OK;
      case CommandLine::Action::Version: con.print("kartex %s\n", KARTEX_VERSION); return EXIT_OK;
      case CommandLine::Action::Usage:
        print_usage(out);
        if (!line.usage_note.empty()) env.err << "kartex: " << line.usage_note << "\n" << std::flush;
        return EXIT_FATAL;
      case CommandLine::Action::Run: break;
    }
    return run_command(line, env, con);
  } catch (const Failure& f) {
    con.progress_end();
    if (f.stream() == Failure::Stream::Out) {
      out << f.what() << std::flush;
      if (!f.note().empty()) env.err << "kartex: " << f.note() << "\n" << std::flush;
    } else {
      // End a line of progress marks so that the error stands on its own.
      if (con.mid_line) out << '\n';
      out << std::flush;
      env.err << "kartex: " << f.what() << "\n" << std::flush;
    }
    return f.status();
  }
}

}  // namespace kartex

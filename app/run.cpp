#include "app/run.h"

#include <optional>

#include "app/agent_identity.h"
#include "app/cli.h"
#include "common/output.h"
#include "app/host_file.h"
#include "app/interrupt.h"
#include "app/session.h"
#include "app/usage.h"
#include "cart/commands.h"
#include "host/clock_stamp.h"
#include "host/host_file_service.h"
#include "host/host_files.h"
#include "host/program_file.h"
#include "common/failure.h"
#include "vts/clock_playback.h"
#include "vts/dxplay.h"
#include "vts/vts_play.h"

namespace kartex {

namespace {

std::string cant_open(const std::string& name) {
  return strprintf("Can't open %s file.\n", name.empty() ? "(no file name)" : name.c_str());
}

// Everything the run needs from the host before the cable is touched.
struct HostSide {
  std::vector<std::uint8_t> input;     // FW, FA, SW
  std::optional<OutputFile> output;    // FR, SR
};

HostSide open_host_file(const Invocation& inv) {
  HostSide host;
  switch (inv.command) {
    case Command::FR:
    case Command::SR:
      host.output = OutputFile::create(inv.file_name);
      if (!host.output) fail_out(cant_open(inv.file_name));
      break;
    case Command::FW:
    case Command::FA:
    case Command::SW: {
      auto data = read_host_file(inv.file_name);
      if (!data) fail_out(cant_open(inv.file_name));
      host.input = std::move(*data);
      break;
    }
    default: break;
  }
  return host;
}

// The program of `rtc`, read whole before the cable is touched.
std::vector<std::uint8_t> load_program(const Invocation& inv, Output& con) {
  auto program = read_program_file(inv.file_name);
  if (!program) {
    con.print("%s", cant_open(inv.file_name).c_str());
    print_usage(con.out);
    throw Failure("", Failure::Stream::Out);
  }
  return std::move(*program);
}

// Serves the loaded program until the service is told to end.
void serve_program(CableLink& link, RunEnv& env, Output& con) {
  HostFiles files;
  ServiceOptions options;
  options.stop = env.service_stop ? env.service_stop
                                  : [](std::uint64_t) { return InterruptCatcher::caught(); };
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
    link.reg_write(REG_SESSION, 0);
  } catch (const Failure&) {
  }
}

// The video stream; a set-up that failed (its line printed) is a failed
// run, while the link stays as good as it was. On a simulator asked to,
// playback follows the console's hardware time instead of the host's.
int stream_video(CableLink& link, const Invocation& inv, const TransportOptions& transport, RunEnv& env,
                 Output& con) {
  MediaOpeners openers = media_openers(env.video_outputs);
  if (transport.sim && transport.sim->hardware_ms)
    openers = following_clock(std::move(openers), [hardware_ms = transport.sim->hardware_ms] { return *hardware_ms; });
  DxPlay source(std::move(openers), con, env.sleep);
  const VtsEnv vts{env.sleep, env.clock, inv.plain_video};
  return vts_play(link, inv.file_name, source, con, vts) == 0 ? EXIT_OK : EXIT_FATAL;
}

int run_on_link(CableLink& link, const CommandLine& line, RunEnv& env, Output& con, HostSide& host,
                std::vector<std::uint8_t>& program);

int run_command(const CommandLine& line, RunEnv& env, Output& con) {
  const Invocation& inv = line.invocation;
  std::vector<std::uint8_t> program;
  if (inv.command == Command::RTC) program = load_program(inv, con);
  HostSide host = open_host_file(inv);

  // Ctrl-C from here on: the command stops at the end of a block (a
  // second one ends the process at once).
  InterruptCatcher interrupt;
  const std::function<bool()> stop =
      env.interrupted ? env.interrupted : [] { return InterruptCatcher::caught(); };
  con.stop_requested = stop;
  PipesOpener opener =
      env.opener ? env.opener(line.transport) : make_opener(line.transport, env.err);
  CableLink link(std::move(opener), env.sleep, &env.err);
  link.set_stop(stop);
  link.set_timeout(line.transport.timeout_ms);
  int status = EXIT_OK;
  try {
    status = run_on_link(link, line, env, con, host, program);
  } catch (const Failure&) {
    leave_link_clean(link);
    throw;
  }
  // A simulator's state that could not be kept loses what the command did:
  // that fails the run.
  link.finish();
  return status;
}

int run_on_link(CableLink& link, const CommandLine& line, RunEnv& env, Output& con, HostSide& host,
                std::vector<std::uint8_t>& program) {
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
  const CartInfo cart = session_bringup(link, inv.command, program, con, agent_id);
  const Range range{inv.start_offset, inv.length};
  switch (inv.command) {
    case Command::FR: flash_read(link, cart, range, *host.output, con); break;
    case Command::FW: flash_write(link, cart, range, host.input, con, inv.write); break;
    case Command::FA: flash_append(link, cart, range, host.input, con, inv.write); break;
    case Command::FE: flash_erase(link, cart, con); break;
    case Command::SR: save_read(link, cart, range, *host.output, con, inv.eeprom_order); break;
    case Command::SW:
      save_write(link, cart, range, host.input, con, inv.eeprom_order, inv.write);
      break;
    case Command::RTC: serve_program(link, env, con); break;
    case Command::VTS: return stream_video(link, inv, line.transport, env, con);
    default: break;
  }
  if (host.output) host.output->commit();
  return EXIT_OK;
}

}  // namespace

int run(const std::vector<std::string>& args, RunEnv& env) {
  Output con{.out = env.out, .err = env.err, .progress_bar = env.progress_bar};
  con.print("%s", BANNER);
  try {
    CommandLine line = parse_command_line(args);
    if (line.transport.sim && line.transport.sim->help) {
      env.out << sim_help_text() << std::flush;
      return EXIT_OK;
    }
    switch (line.action) {
      case CommandLine::Action::Help: print_help(env.out); return EXIT_OK;
      case CommandLine::Action::Version: con.print("kartex %s\n", KARTEX_VERSION); return EXIT_OK;
      case CommandLine::Action::Usage: print_usage(env.out); return EXIT_FATAL;
      case CommandLine::Action::Run: break;
    }
    return run_command(line, env, con);
  } catch (const Failure& f) {
    con.progress_end();
    if (f.stream() == Failure::Stream::Out) {
      env.out << f.what() << std::flush;
    } else {
      // End a line of progress marks so that the error stands on its own.
      if (con.mid_line) env.out << '\n';
      env.out << std::flush;
      env.err << "kartex: " << f.what() << "\n" << std::flush;
    }
    return f.status();
  }
}

}  // namespace kartex

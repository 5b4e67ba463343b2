// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Option parsing with Boost.Program_options.
#include "tools/tarn-scan/options.h"

#include <cctype>
#include <limits>
#include <sstream>

#include <boost/program_options.hpp>

#include "scanner/scanner.h"

namespace po = boost::program_options;

namespace tarn_scan {
namespace {

po::options_description describe(options* out, std::string* memory) {
  po::options_description d("Options");
  d.add_options()
      ("volume", po::value<std::string>(&out->volume)->value_name("V"),
       "GlusterFS volume to scan (required)")
      ("output-dir", po::value<std::string>(&out->output_dir)->value_name("D"),
       "local directory for the run's working files; removed after a successful run (required)")
      ("mount", po::value<std::string>(&out->mount)->value_name("M"),
       "local mount point of the volume, mounted with -o aux-gfid-mount (required)")
      ("session", po::value<std::string>(&out->session)->value_name("S"),
       "glusterfind session name: letters, digits, '_' and '-' (required)")
      ("incremental", po::bool_switch(&out->incremental),
       "report what changed since the session's last 'glusterfind post'")
      ("full", "report every file of the volume (the default)")
      ("post", po::bool_switch(&out->post),
       "after a successful run, run 'glusterfind post' so the next incremental scan starts here")
      ("json", po::bool_switch(&out->json),
       "print one JSON object for every outcome (the run's report)")
      ("with-files", po::bool_switch(&out->with_files),
       "also list each application's new and modified files and directories, each right "
       "before its pieces: a change to a file's first block (4 MB) or to a file of one block "
       "or less is seen only so")
      ("log-file", po::value<std::string>(&out->log_file)->value_name("FILE"),
       "append the library's log to FILE instead of standard error")
      ("metrics-dir", po::value<std::string>(&out->metrics_dir)->value_name("DIR"),
       "after the run, write its metrics for Prometheus to DIR/tarn-scan.<V>.<S>.prom (whole, "
       "never half-written), e.g. node_exporter's textfile directory "
       "/var/lib/prometheus/node-exporter; an empty DIR writes none")
      ("timeout", po::value<unsigned>(&out->timeout)->value_name("SECONDS"),
       "stop the run as SIGTERM does when it takes longer (exit status 124)")
      ("memory", po::value<std::string>(memory)->value_name("SIZE"),
       "memory for sorting the run's entries, in bytes or with K, M or G (256M, 1G; at least "
       "1M; default 256M): a longer list is sorted in files in D")
      ("help,h", "show this help and exit")
      ("version", "show the version and exit");
  return d;
}

po::options_description describe_unlock(options* out) {
  po::options_description d("Options of unlock");
  d.add_options()
      ("volume", po::value<std::string>(&out->volume)->value_name("V"), "GlusterFS volume (required)")
      ("session", po::value<std::string>(&out->session)->value_name("S"), "session (required)")
      ("mount", po::value<std::string>(&out->mount)->value_name("M"),
       "the volume's mount: its server is asked for the volume (default 127.0.0.1)")
      ("force", po::bool_switch(&out->force),
       "remove the lock file even when its holder runs, ran on another host or is not named")
      ("log-file", po::value<std::string>(&out->log_file)->value_name("FILE"),
       "append the library's log to FILE instead of standard error")
      ("help,h", "show this help and exit");
  return d;
}

po::options_description describe_consume(options* out, std::string* block_size) {
  po::options_description d("Options of consume");
  d.add_options()
      ("volume", po::value<std::string>(&out->volume)->value_name("V"), "GlusterFS volume (required)")
      ("mount", po::value<std::string>(&out->mount)->value_name("M"),
       "its aux-gfid mount (required)")
      ("session", po::value<std::string>(&out->session)->value_name("S"), "session (required)")
      ("mirror", po::value<std::string>(&out->mirror)->value_name("DIR"),
       "the mirror: one file per gfid (required; made when missing)")
      ("block-size", po::value<std::string>(block_size)->value_name("SIZE"),
       "the volume's shard block size (default: from 'gluster volume get')")
      ("log-file", po::value<std::string>(&out->log_file)->value_name("FILE"),
       "append the library's log to FILE instead of standard error")
      ("help,h", "show this help and exit");
  return d;
}

// glusterfind takes session names of these characters only, and GlusterFS
// volume names are made of them too; anything else ("..", "a/b") would name
// other files than the session's.
bool is_plain_name(const std::string& name) {
  if (name.empty()) return false;
  for (char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') return false;
  }
  return true;
}

parse_result check_names(const options& o, std::string* error) {
  if (!is_plain_name(o.volume)) {
    *error = "invalid volume name '" + o.volume + "': letters, digits, '_' and '-' only";
    return parse_result::usage_error;
  }
  if (!is_plain_name(o.session)) {
    *error = "invalid session name '" + o.session + "': letters, digits, '_' and '-' only";
    return parse_result::usage_error;
  }
  return parse_result::run;
}

// check and status read the volume and the mount; the output directory and
// the session are optional (check: only then are they checked; status: all
// sessions without --session).
po::options_description describe_inspect(options* out, bool status) {
  po::options_description d(status ? "Options of status" : "Options of check");
  d.add_options()
      ("volume", po::value<std::string>(&out->volume)->value_name("V"),
       "GlusterFS volume (required)")
      ("mount", po::value<std::string>(&out->mount)->value_name("M"),
       "local mount point of the volume (required)")
      ("output-dir", po::value<std::string>(&out->output_dir)->value_name("D"),
       status ? "also list the leftovers in D/.tarn_leftovers" : "also check the output directory")
      ("session", po::value<std::string>(&out->session)->value_name("S"),
       status ? "only this session" : "also check that the session exists and its lock");
  if (status) d.add_options()("json", po::bool_switch(&out->json), "print one JSON object");
  d.add_options()("help,h", "show this help and exit");
  return d;
}

}  // namespace

parse_result parse_options(int argc, const char* const* argv, options* out, std::string* error) {
  out->unlock = argc > 1 && std::string(argv[1]) == "unlock";
  if (out->unlock) {
    --argc;
    ++argv;  // the command name stands where the program name would
  }
  out->check = !out->unlock && argc > 1 && std::string(argv[1]) == "check";
  out->status = !out->unlock && argc > 1 && std::string(argv[1]) == "status";
  out->consume = !out->unlock && argc > 1 && std::string(argv[1]) == "consume";
  if (out->check || out->status || out->consume) {
    --argc;
    ++argv;
  }
  std::string memory;
  std::string block_size;
  po::options_description d = out->consume                 ? describe_consume(out, &block_size)
                              : out->unlock                ? describe_unlock(out)
                              : out->check || out->status ? describe_inspect(out, out->status)
                                                          : describe(out, &memory);
  po::variables_map vm;
  try {
    po::positional_options_description none;  // every argument is an option
    // Whole option names only: "--vol" is no "--volume".
    const int style = po::command_line_style::default_style &
                      ~po::command_line_style::allow_guessing;
    po::store(po::command_line_parser(argc, argv).options(d).positional(none).style(style).run(),
              vm);
    po::notify(vm);
  } catch (const po::error& e) {
    *error = e.what();
    return parse_result::usage_error;
  }
  if (vm.count("help")) return parse_result::help;
  if (out->unlock) {
    for (const char* name : {"volume", "session"}) {
      if (!vm.count(name) || vm[name].as<std::string>().empty()) {
        *error = std::string("the option '--") + name + "' is required";
        return parse_result::usage_error;
      }
    }
    return check_names(*out, error);
  }
  if (out->consume) {
    for (const char* name : {"volume", "mount", "session", "mirror"}) {
      if (!vm.count(name) || vm[name].as<std::string>().empty()) {
        *error = std::string("the option '--") + name + "' is required";
        return parse_result::usage_error;
      }
    }
    if (vm.count("block-size") && (!parse_size(block_size, &out->block_size) || out->block_size == 0)) {
      *error = "invalid --block-size '" + block_size + "': bytes, or a number with K, M or G (4M)";
      return parse_result::usage_error;
    }
    return check_names(*out, error);
  }
  if (out->check || out->status) {
    for (const char* name : {"volume", "mount"}) {
      if (!vm.count(name) || vm[name].as<std::string>().empty()) {
        *error = std::string("the option '--") + name + "' is required";
        return parse_result::usage_error;
      }
    }
    if (out->session.empty()) {  // all sessions
      options named = *out;
      named.session = "any";
      return check_names(named, error);
    }
    return check_names(*out, error);
  }
  if (vm.count("version")) return parse_result::version;
  if (vm.count("timeout") && out->timeout == 0) {
    *error = "--timeout wants a number of seconds above 0";
    return parse_result::usage_error;
  }
  if (vm.count("memory")) {
    if (!parse_size(memory, &out->memory)) {
      *error = "invalid --memory size '" + memory + "': bytes, or a number with K, M or G (256M)";
      return parse_result::usage_error;
    }
    if (out->memory < tarn::scanner::min_memory_budget) {
      *error = "--memory " + memory + " is too small: at least 1M";
      return parse_result::usage_error;
    }
  }
  if (out->incremental && vm.count("full")) {
    *error = "--incremental and --full exclude each other";
    return parse_result::usage_error;
  }
  for (const char* name : {"volume", "output-dir", "mount", "session"}) {
    if (!vm.count(name) || vm[name].as<std::string>().empty()) {
      *error = std::string("the option '--") + name + "' is required";
      return parse_result::usage_error;
    }
  }
  return check_names(*out, error);
}

bool parse_size(const std::string& text, std::size_t* bytes) {
  std::size_t digits = 0;
  while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
  if (digits == 0 || text.size() - digits > 1) return false;
  unsigned shift = 0;
  if (digits < text.size()) {
    switch (std::toupper(static_cast<unsigned char>(text[digits]))) {
      case 'K': shift = 10; break;
      case 'M': shift = 20; break;
      case 'G': shift = 30; break;
      default: return false;
    }
  }
  const std::size_t limit = std::numeric_limits<std::size_t>::max() >> shift;
  std::size_t value = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    const std::size_t digit = static_cast<std::size_t>(text[i] - '0');
    if (value > (limit - digit) / 10) return false;
    value = value * 10 + digit;
  }
  *bytes = value << shift;
  return true;
}

std::string help_text() {
  options unused;
  std::string unused_memory;
  std::ostringstream s;
  s << "Usage: tarn-scan --volume V --output-dir D --mount M --session S\n"
       "                 [--incremental | --full] [--post] [--json] [--with-files]\n"
       "                 [--log-file FILE] [--timeout SECONDS] [--memory SIZE]\n"
       "                 [--metrics-dir DIR]\n"
       "       tarn-scan unlock --volume V --session S [--mount M] [--force] [--log-file FILE]\n"
       "       tarn-scan check --volume V --mount M [--output-dir D] [--session S]\n"
       "       tarn-scan status --volume V --mount M [--output-dir D] [--session S] [--json]\n"
       "       tarn-scan consume --volume V --mount M --session S --mirror DIR\n"
       "                 [--block-size SIZE] [--log-file FILE]\n"
       "\n"
       "Finds the files of GlusterFS volume V that changed (all of them with --full, the\n"
       "default; those changed since the session's last post with --incremental) and\n"
       "leaves, per application (first path component), the lists of changed shard\n"
       "pieces in M/.tarn/working/scanner/<application>/. With --with-files a line\n"
       "that begins with \".shard/\" is a piece, any other a file or directory.\n"
       "--incremental for a session that does not exist yet runs a full scan: the\n"
       "session's first run lists everything. A successful run is recorded in\n"
       "M/.tarn/working/sessions/S.json (status shows it).\n"
       "\n"
       "D is the library's own: it is made (and marked with the file .tarn_output_dir)\n"
       "when missing, and refused when it holds files it did not make or when it is,\n"
       "lies inside or holds M. Files a failed run left there are kept, the newest three\n"
       "sets per session, in D/.tarn_leftovers/S/.\n"
       "\n"
       "unlock removes the session's lock file <V>.lock.<S> when the run that holds it\n"
       "ran on this host and is gone; it refuses, saying why, when that run is alive,\n"
       "ran on another host or is not named in the file, unless --force is given.\n"
       "\n"
       "check says, one line each (ok, warn or fail), whether a scan could run:\n"
       "glusterfind and its version, python3-pyxattr, glusterfind's key directory, the\n"
       "volume, the mount (the volume's FUSE mount, with .gfid), storage.build-pgfid,\n"
       "changelog.changelog and changelog.rollover-time, and with D and S the output\n"
       "directory, the session and its lock. Exit status 0, 3 for warnings, 1 for\n"
       "failures.\n"
       "\n"
       "status shows per session of V (or only S): the lock holder, the last manifest,\n"
       "the last successful run and how long ago it ended,\n"
       "the lists waiting in M/.tarn/working/scanner per application (files, entries)\n"
       "and, with D, the leftover directories. check and status take no lock and write\n"
       "nothing.\n"
       "\n"
       "consume is the reference consumer of S's lists: it keeps DIR, one file per\n"
       "gfid, up to date from them (manifests oldest first; each listed piece's\n"
       "bytes read through M/.gfid, each listed file's first block, each file's\n"
       "size), then removes each manifest and the lists no manifest names. It holds\n"
       "S's lock meanwhile, and can be stopped at any point and run again.\n"
       "\n"
       << describe(&unused, &unused_memory) << "\n"
       << describe_unlock(&unused) << "\n"
       << describe_inspect(&unused, false) << "\n"
       << describe_inspect(&unused, true) << "\n"
       << describe_consume(&unused, &unused_memory)
       << "\n"
          "Exit status (the errno of a failure is in the message and in --json):\n"
          "  0    done; a summary of the result files is printed\n"
          "  1    done, but 'glusterfind post' failed: the next incremental scan reports\n"
          "       the same changes again\n"
          "  2    bad command line (one line says what; nothing ran)\n"
          "  3    done, but needs attention: changed pieces could not be attributed (the\n"
          "       mount lacks -o aux-gfid-mount), or the lock file could not be removed\n"
          "  4    the volume or the mount cannot be used: M is not a GlusterFS mount of V,\n"
          "       or V cannot be reached or written (nothing ran)\n"
          "  14   a step of the run failed, the output directory D refused included (the\n"
          "       message and the log say which)\n"
          "  16   the session is locked: another scan runs, or a crashed one left\n"
          "       <V>.lock.<S> in the volume's top directory (see unlock), or its create\n"
          "       did not finish in 5 s\n"
          "  124  stopped after --timeout SECONDS, as by SIGTERM\n"
          "  128+N  stopped by signal N (129 SIGHUP, 130 SIGINT, 143 SIGTERM): the\n"
          "       glusterfind command in progress was ended and the run released its lock;\n"
          "       --post was skipped. A second signal ends tarn-scan at once, the lock\n"
          "       possibly left behind\n"
          "unlock: 0 when the lock file was removed or there was none, 16 when it was\n"
          "  refused, 2 for bad options, 14 when it could not be read or removed\n"
          "check: 0 every line ok, 3 some warn, 1 some fail, 2 for bad options;\n"
          "status: 0, 2 for bad options;\n"
          "consume: 0, 16 when S is locked, 14 when something failed (the manifest in\n"
          "  progress stays for the next run), 2 for bad options\n"
          "\n"
          "Environment:\n"
          "  TARN_LOG_FILE           where the library logs (--log-file sets it)\n"
          "  TARN_GLUSTER_SERVER     volfile server (default: the mount's, else 127.0.0.1)\n"
          "  TARN_LOCAL_VOLUME_ROOT  treat volume V as the directory $TARN_LOCAL_VOLUME_ROOT/V\n";
  return s.str();
}

}  // namespace tarn_scan

// Copyright 2026 The tarn-scanner Authors. All rights reserved.
#include "tools/tarn-scan/metrics.h"

#include <cstdio>
#include <map>

#include <nlohmann/json.hpp>

#include "core/platform.h"

namespace tarn_scan {
namespace {

// A label value: valid UTF-8 (an invalid byte becomes U+FFFD, as in the
// JSON), with backslash, double quote and line feed escaped.
std::string label_value(const std::string& text) {
  using json = nlohmann::json;
  const std::string utf8 =
      json::parse(json(text).dump(-1, ' ', false, json::error_handler_t::replace))
          .get<std::string>();
  std::string out;
  for (char c : utf8) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}

std::string number(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.15g", value);
  return text;
}

class writer {
 public:
  explicit writer(const run_metrics& m)
      : labels_("volume=\"" + label_value(m.volume) + "\",session=\"" + label_value(m.session) +
                "\"") {}

  // Starts a metric family; every family here is a gauge. Its HELP and
  // TYPE lines come with its first sample: a family without samples is left
  // out.
  writer& family(const std::string& name, const std::string& help) {
    name_ = name;
    header_ = "# HELP " + name + " " + help + "\n# TYPE " + name + " gauge\n";
    return *this;
  }
  writer& sample(double value, const std::string& extra_label = "",
                 const std::string& extra_value = "") {
    out_ += header_;
    header_.clear();
    out_ += name_ + "{" + labels_;
    if (!extra_label.empty()) out_ += "," + extra_label + "=\"" + label_value(extra_value) + "\"";
    out_ += "} " + number(value) + "\n";
    return *this;
  }
  const std::string& text() const { return out_; }

 private:
  std::string labels_;
  std::string name_;
  std::string header_;
  std::string out_;
};

void run_families(const run_metrics& m, writer* w) {
  w->family("tarn_scan_last_run_start_timestamp_seconds", "When the last run began.")
      .sample(m.started);
  w->family("tarn_scan_last_run_end_timestamp_seconds",
            "When the last run ended (after glusterfind post, when it ran).")
      .sample(m.finished);
  w->family("tarn_scan_last_run_duration_seconds", "How long the last run took.")
      .sample(m.finished - m.started);
  w->family("tarn_scan_last_run_exit_status", "tarn-scan's exit status for the last run.")
      .sample(m.exit_status);
  w->family("tarn_scan_last_run_success",
            "1 when the last run filed its lists (and posted, when asked): exit status 0 or 3.")
      .sample(m.succeeded ? 1 : 0);
  w->family("tarn_scan_last_run_failed",
            "1, with the step, when the last run failed; 0 with an empty step otherwise.")
      .sample(m.succeeded ? 0 : 1, "step", m.succeeded ? "" : m.failed_step);
  w->family("tarn_scan_last_run_needs_attention",
            "1 when the last run succeeded but needs attention (exit status 3).")
      .sample(m.succeeded && m.exit_status == 3 ? 1 : 0);
  w->family("tarn_scan_last_success_timestamp_seconds",
            "When the session's last successful run ended, on any node; 0 when none is known.")
      .sample(m.last_success);
  // Steps in the order they began; one that began twice is summed.
  std::vector<std::string> order;
  std::map<std::string, step_time> steps;
  for (const step_time& s : m.steps) {
    if (steps.count(s.step) == 0) order.push_back(s.step);
    step_time& t = steps[s.step];
    t.seconds += s.seconds;
    t.entries = s.entries != 0 ? s.entries : t.entries;
  }
  w->family("tarn_scan_last_run_step_duration_seconds", "How long each step of the last run took.");
  for (const std::string& s : order) w->sample(steps[s].seconds, "step", s);
  w->family("tarn_scan_last_run_step_entries",
            "Entries a step of the last run ended with: those the filter kept (filter, "
            "post-processing), the lines written into the volume (copy).");
  for (const std::string& s : order) {
    if (steps[s].entries != 0) w->sample(static_cast<double>(steps[s].entries), "step", s);
  }
}

void report_families(const tarn::scanner::scan_report& r, writer* w) {
  w->family("tarn_scan_last_run_full", "1 when the last run's glusterfind pass was a full one.")
      .sample(r.full ? 1 : 0);
  w->family("tarn_scan_last_run_lists", "Lists the last run wrote or appended to.")
      .sample(static_cast<double>(r.lists.size()));
  w->family("tarn_scan_last_run_list_lines",
            "Lines the last run added to lists: changed pieces, and paths of changed entries "
            "(--with-files).")
      .sample(static_cast<double>(r.piece_lines), "kind", "piece")
      .sample(static_cast<double>(r.path_lines), "kind", "path");
  w->family("tarn_scan_last_run_dropped_pieces", "Changed pieces the last run listed nowhere, by reason.")
      .sample(static_cast<double>(r.dropped_owner_gone), "reason", "owner_gone")
      .sample(static_cast<double>(r.dropped_no_aux_gfid), "reason", "no_aux_gfid_mount")
      .sample(static_cast<double>(r.dropped_owner_excluded), "reason", "owner_excluded")
      .sample(static_cast<double>(r.dropped_owner_unreadable), "reason", "owner_unreadable");
  w->family("tarn_scan_last_run_unnamed_entries",
            "Changed entries the last run could not name (left out of its lists).")
      .sample(static_cast<double>(r.unnamed()));
  w->family("tarn_scan_last_run_recovered_journals",
            "Change-log journals the last run read itself (glusterfind's pass does not).")
      .sample(static_cast<double>(r.recovered_journals.size()));
  w->family("tarn_scan_last_run_recovered_changes", "Changes those journals added to the pass.")
      .sample(static_cast<double>(r.recovered_changes));
}

void session_families(const run_metrics& m, writer* w) {
  const session_status& s = *m.state;
  w->family("tarn_scan_lock_held", "1 when the session's lock file exists.")
      .sample(s.locked ? 1 : 0);
  w->family("tarn_scan_lock_start_timestamp_seconds",
            "When the lock that is held was taken, from its record; 0 when unknown or none.")
      .sample(m.lock_started);
  w->family("tarn_scan_manifests_waiting", "Manifests of runs not yet taken by the consumer.")
      .sample(static_cast<double>(s.manifests));
  w->family("tarn_scan_oldest_manifest_timestamp_seconds",
            "When the run of the oldest waiting manifest began; 0 when none waits.")
      .sample(m.oldest_manifest);
  w->family("tarn_scan_lists_waiting", "The session's lists waiting for the consumer, by application.");
  for (const waiting_lists& l : s.lists) w->sample(static_cast<double>(l.files), "application", l.application);
  w->family("tarn_scan_list_bytes_waiting", "Bytes of those lists, by application.");
  for (const waiting_lists& l : s.lists) w->sample(static_cast<double>(l.bytes), "application", l.application);
}

}  // namespace

std::string format_metrics(const run_metrics& m) {
  writer w(m);
  run_families(m, &w);
  if (m.report != nullptr) report_families(*m.report, &w);
  if (m.state != nullptr) session_families(m, &w);
  return w.text();
}

std::string metrics_path(const std::string& dir, const std::string& volume,
                         const std::string& session) {
  return dir + "/tarn-scan." + volume + "." + session + ".prom";
}

std::error_code write_metrics(const std::string& dir, const run_metrics& m) {
  bool directory = false;
  if (std::error_code ec = tarn::os::stat_path(dir, &directory)) return ec;
  if (!directory) return std::make_error_code(std::errc::not_a_directory);
  return tarn::os::replace_file(metrics_path(dir, m.volume, m.session), format_metrics(m));
}

}  // namespace tarn_scan

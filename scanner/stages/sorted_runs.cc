// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Sorted runs of a collect file and their merge.
#include "scanner/stages/sorted_runs.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <utility>

#include "core/platform.h"
#include "scanner/scanner.h"
#include "scanner/stages/entry_order.h"

namespace tarn {
namespace scanner {
namespace {

const char kRunInfix[] = ".sort.";
const char kPartial[] = ".partial";

bool ends_with(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The merge of a few run files: a heap of their current lines, the least in
// application_order on top. Equal entries are equal strings, so which of
// them comes first changes nothing.
class merged_entries : public entry_source {
 public:
  std::error_code open(local_files& files, const std::vector<std::string>& paths,
                       const char* function) {
    function_ = function;
    inputs_.resize(paths.size());
    heads_.resize(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
      if (std::error_code ec = files.read_lines(paths[i], &inputs_[i])) {
        session::logger.error(function, "Failed to open the sort run %s: %s", paths[i].c_str(),
                              ec.message().c_str());
        return ec;
      }
      paths_.push_back(paths[i]);
      if (advance(i)) heap_.push_back(i);
      if (error_) return error_;
    }
    std::make_heap(heap_.begin(), heap_.end(), later{&heads_});
    return std::error_code();
  }

  const std::string* next() override {
    if (error_ || heap_.empty()) return nullptr;
    std::pop_heap(heap_.begin(), heap_.end(), later{&heads_});
    const std::size_t i = heap_.back();
    current_.swap(heads_[i]);
    if (advance(i)) {
      std::push_heap(heap_.begin(), heap_.end(), later{&heads_});
    } else {
      heap_.pop_back();
    }
    // An entry read before a failure is still in order; the failure ends the
    // merge at the next call.
    return &current_;
  }

  std::error_code error() const override { return error_; }

 private:
  // The heap's order: the run whose entry comes later is the "lesser".
  struct later {
    const std::vector<std::string>* heads;
    bool operator()(std::size_t a, std::size_t b) const {
      return application_order((*heads)[b], (*heads)[a]);
    }
  };

  // Reads the next line of run i into its head; false at its end or on a
  // read error, which goes to error_.
  bool advance(std::size_t i) {
    if (inputs_[i]->next(&heads_[i])) return true;
    if (std::error_code ec = inputs_[i]->error()) {
      session::logger.error(function_, "Failed to read the sort run %s: %s", paths_[i].c_str(),
                            ec.message().c_str());
      error_ = ec;
    }
    return false;
  }

  std::vector<std::unique_ptr<line_input>> inputs_;
  std::vector<std::string> paths_;
  std::vector<std::string> heads_;
  std::vector<std::size_t> heap_;
  std::string current_;
  std::error_code error_;
  const char* function_ = "";
};

}  // namespace

std::size_t entry_footprint(const std::string& entry) {
  const char* text = entry.data();
  const char* object = reinterpret_cast<const char*>(&entry);
  const std::less<const char*> before;
  const bool inside = !before(text, object) && before(text, object + sizeof entry);
  // malloc's blocks: a word of its own, in steps of 16 bytes.
  const std::size_t heap = inside ? 0 : (entry.capacity() + 1 + sizeof(void*) + 15) / 16 * 16;
  return heap + 2 * sizeof(std::string) + sizeof(std::uint32_t);
}

std::string sort_run_name(const std::string& session, std::size_t n) {
  return "." + session + kRunInfix + std::to_string(n);
}

bool is_sort_run_name(const std::string& file_name, const std::string& session) {
  std::string name = file_name;
  if (ends_with(name, kPartial)) name.resize(name.size() - (sizeof kPartial - 1));
  const std::string head = "." + session + kRunInfix;
  if (name.size() <= head.size() || name.compare(0, head.size(), head) != 0) return false;
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(head.size()), name.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

std::error_code sort_runs::write(const std::vector<std::string>& entries) {
  vector_entries source(entries);
  return write_run(source);
}

// Complete under its name, or not there at all.
std::error_code sort_runs::write_run(entry_source& entries) {
  static const char* const kFn = "sessoin::process_filtered_files";
  const std::string path = directory_ + "/" + sort_run_name(session_, ++written_);
  const std::string partial = path + kPartial;
  std::unique_ptr<line_output> out;
  std::error_code ec = files_.create(partial, &out);
  if (ec) {
    session::logger.error(kFn, "Failed to create the sort run %s: %s", partial.c_str(),
                          ec.message().c_str());
    return ec;
  }
  while (const std::string* entry = entries.next()) {
    if ((ec = out->write_line(*entry))) break;
  }
  const bool read_failed = !ec && entries.error();
  if (read_failed) ec = entries.error();  // logged by the merge
  std::error_code closed = out->close();
  if (!ec) ec = closed;
  if (!ec) ec = files_.rename(partial, path);
  if (ec) {
    if (!read_failed) {
      session::logger.error(kFn, "Failed to write the sort run %s: %s", partial.c_str(),
                            ec.message().c_str());
    }
    files_.remove(partial);
    return ec;
  }
  paths_.push_back(path);
  return ec;
}

std::error_code sort_runs::reduce(std::size_t fan_in) {
  fan_in = std::max<std::size_t>(fan_in, 2);
  while (paths_.size() > fan_in) {
    // Each merge makes k runs one; the last pass leaves exactly fan_in.
    const std::size_t k = std::min(fan_in, paths_.size() - fan_in + 1);
    std::vector<std::string> group(paths_.begin(), paths_.begin() + static_cast<std::ptrdiff_t>(k));
    {
      merged_entries merged;
      std::error_code ec = merged.open(files_, group, "sessoin::process_filtered_files");
      if (!ec) ec = write_run(merged);
      if (ec) return ec;
    }
    for (const std::string& path : group) files_.remove(path);
    paths_.erase(paths_.begin(), paths_.begin() + static_cast<std::ptrdiff_t>(k));
  }
  return std::error_code();
}

std::error_code sort_runs::open_merge(std::unique_ptr<entry_source>* out) {
  auto merged = std::make_unique<merged_entries>();
  if (std::error_code ec = merged->open(files_, paths_, "sessoin::process_filtered_files")) {
    return ec;
  }
  *out = std::move(merged);
  return std::error_code();
}

void sort_runs::remove_all() {
  for (const std::string& path : paths_) files_.remove(path);
  paths_.clear();
}

std::error_code sort_collect_file(local_files& files, const std::string& collect_file,
                                  std::size_t budget, const char* function,
                                  std::vector<std::string>* entries, sort_runs* runs) {
  std::unique_ptr<line_input> in;
  if (std::error_code ec = files.read_lines(collect_file, &in)) {
    session::logger.error(function, "Failed to open file %s", collect_file.c_str());
    return ec;
  }
  // Sorts the entries held and writes them as a run; none are held after.
  // The strings of a run are freed in its order, scattered over the
  // memory: the next chunk's would be too, and its sort would miss the
  // caches on most comparisons. Consolidated, they come in reading order.
  auto spill = [&]() -> std::error_code {
    sort_entries(*entries);
    std::error_code ec = runs->write(*entries);
    entries->clear();
    os::consolidate_free_memory();
    return ec;
  };
  std::size_t used = 0;  // by the entries held, by entry_footprint
  std::string line;
  while (in->next(&line)) {
    entries->push_back(line);
    const std::size_t cost = entry_footprint(entries->back());
    const std::size_t spare = (entries->capacity() - entries->size()) * sizeof(std::string);
    if (used + cost + spare > budget && entries->size() > 1) {
      std::string last = std::move(entries->back());
      entries->pop_back();
      if (std::error_code ec = spill()) return ec;
      entries->push_back(std::move(last));
      used = 0;
    }
    used += cost;
  }
  if (std::error_code ec = in->error()) {
    session::logger.error(function, "Failed to read file %s", collect_file.c_str());
    return ec;
  }
  in.reset();
  if (runs->empty()) {
    sort_entries(*entries);
    return std::error_code();
  }
  if (!entries->empty()) {
    if (std::error_code ec = spill()) return ec;
  }
  std::vector<std::string>().swap(*entries);  // its memory, for the merge's files
  const std::size_t spilled = runs->size();
  if (std::error_code ec = runs->reduce(kMergeFanIn)) return ec;
  session::logger.error(function,
                        "The entries of %s exceed the memory budget of %zu bytes: sorted in %zu "
                        "runs, merged from %zu",
                        collect_file.c_str(), budget, spilled, runs->size());
  return std::error_code();
}

}  // namespace scanner
}  // namespace tarn

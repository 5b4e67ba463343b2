// Copyright 2026 The tarn-scanner Authors. All rights reserved.
#include "tools/tarn-scan/consume.h"

#include <fcntl.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <list>
#include <map>
#include <set>

#include <nlohmann/json.hpp>

#include "core/platform.h"
#include "scanner/glusterfind/shell_quote.h"
#include "scanner/scanner.h"
#include "tools/tarn-scan/options.h"

namespace tarn_scan {
namespace {

namespace os = tarn::os;

std::error_code invalid() { return std::error_code(EINVAL, std::generic_category()); }

std::string from_hex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out += static_cast<char>(std::strtol(hex.substr(i, 2).c_str(), nullptr, 16));
  }
  return out;
}

// A relative path that stays below where it is taken from: no empty, "."
// or ".." component.
bool stays_below(const std::string& path) {
  if (path.empty() || path[0] == '/') return false;
  for (std::size_t at = 0; at <= path.size();) {
    std::size_t slash = path.find('/', at);
    if (slash == std::string::npos) slash = path.size();
    const std::string part = path.substr(at, slash - at);
    if (part.empty() || part == "." || part == "..") return false;
    at = slash + 1;
  }
  return true;
}

bool all_digits(const std::string& s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos && s.size() < 19;
}

// The gfid text of a file on the volume: "glusterfs.gfid.string" through a
// mount, else the 16 bytes of "trusted.gfid" (a local directory).
std::error_code gfid_of(const std::string& path, std::string* gfid) {
  char text[64] = {0};
  ssize_t n = 0;
  if (!os::get_xattr(path, "glusterfs.gfid.string", text, sizeof text - 1, &n) && n == 36) {
    gfid->assign(text, 36);
    return std::error_code();
  }
  unsigned char raw[16];
  if (std::error_code ec = os::get_xattr(path, "trusted.gfid", raw, sizeof raw, &n)) return ec;
  if (n != 16) return std::error_code(ENODATA, std::generic_category());
  char out[40];
  std::snprintf(out, sizeof out,
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", raw[0],
                raw[1], raw[2], raw[3], raw[4], raw[5], raw[6], raw[7], raw[8], raw[9], raw[10],
                raw[11], raw[12], raw[13], raw[14], raw[15]);
  *gfid = out;
  return std::error_code();
}

class consumer {
 public:
  consumer(const consume_request& r, consume_result* result) : r_(r), result_(result) {}

  std::error_code take(const std::string& name, const std::vector<std::string>& later);

 private:
  std::error_code fail(const std::string& what, std::error_code ec) {
    result_->failed = what + ": " + ec.message();
    return ec;
  }
  std::error_code read_range(const std::string& path, int64_t offset, int64_t end,
                             std::string* text);
  std::error_code take_line(const std::string& line);
  std::error_code copy_block(const std::string& source, const std::string& gfid, uint64_t n);
  std::error_code settle();  // sizes and sync of the owners touched

  const consume_request& r_;
  consume_result* result_;
  std::map<std::string, std::string> touched_;  // gfid -> its path on the volume
};

std::error_code consumer::read_range(const std::string& path, int64_t offset, int64_t end,
                                     std::string* text) {
  os::file in;
  if (std::error_code ec = os::file::open(path, O_RDONLY, 0, &in)) {
    return fail("cannot open the list " + path, ec);
  }
  text->assign(static_cast<std::size_t>(std::max<int64_t>(end - offset, 0)), '\0');
  for (std::size_t done = 0, got = 0; done < text->size(); done += got) {
    if (std::error_code ec = in.pread(&(*text)[done], text->size() - done,
                                      offset + static_cast<int64_t>(done), &got)) {
      return fail("cannot read the list " + path, ec);
    }
    if (got == 0) {
      return fail("the list " + path + " is shorter than its manifest says",
                  std::error_code(EIO, std::generic_category()));
    }
  }
  return std::error_code();
}

std::error_code consumer::copy_block(const std::string& source, const std::string& gfid,
                                     uint64_t n) {
  os::file in;
  if (std::error_code ec = os::file::open(source, O_RDONLY, 0, &in)) {
    if (ec.value() == ENOENT || ec.value() == ESTALE) {
      ++result_->owners_gone;  // removed since the change: nothing to keep
      return std::error_code();
    }
    return fail("cannot open " + source, ec);
  }
  const std::string target = r_.mirror + "/" + gfid;
  os::file out;
  if (std::error_code ec = os::file::open(target, O_WRONLY | O_CREAT, 0600, &out)) {
    return fail("cannot open " + target, ec);
  }
  touched_[gfid] = source;
  std::string buffer(1 << 20, '\0');
  const uint64_t begin = n * r_.block_size;
  for (uint64_t at = begin; at < begin + r_.block_size;) {
    const std::size_t want = static_cast<std::size_t>(
        std::min<uint64_t>(buffer.size(), begin + r_.block_size - at));
    std::size_t got = 0;
    if (std::error_code ec = in.pread(&buffer[0], want, static_cast<int64_t>(at), &got)) {
      return fail("cannot read " + source, ec);
    }
    if (got == 0) break;  // the owner ends in this block
    for (std::size_t put = 0, w = 0; put < got; put += w) {
      if (std::error_code ec = out.pwrite(&buffer[put], got - put,
                                          static_cast<int64_t>(at + put), &w)) {
        return fail("cannot write " + target, ec);
      }
    }
    at += got;
    result_->bytes += got;
  }
  if (std::error_code ec = out.close()) return fail("cannot write " + target, ec);
  return std::error_code();
}

std::error_code consumer::take_line(const std::string& line) {
  static const std::string kShard = ".shard/";
  if (line.compare(0, kShard.size(), kShard) == 0) {
    const std::size_t dot = line.rfind('.');
    const std::string gfid = line.substr(kShard.size(), dot - kShard.size());
    if (dot < kShard.size() || gfid.size() != 36 || !stays_below(gfid) ||
        !all_digits(line.substr(dot + 1))) {
      return fail("not a piece: " + line, invalid());
    }
    ++result_->pieces;
    return copy_block(r_.top + "/.gfid/" + gfid, gfid, std::stoull(line.substr(dot + 1)));
  }
  // A path of an application's entry (--with-files): a file's first block
  // is no piece.
  if (!stays_below(line)) {
    return fail("not a path in the volume: " + line, invalid());
  }
  const std::string path = r_.top + "/" + line;
  bool regular = false;
  if (std::error_code ec = os::lstat_regular(path, &regular)) {
    if (ec.value() == ENOENT) {
      ++result_->owners_gone;
      return std::error_code();
    }
    return fail("cannot look at " + path, ec);
  }
  if (!regular) return std::error_code();  // directories, links: no data
  std::string gfid;
  if (std::error_code ec = gfid_of(path, &gfid)) return fail("cannot read the gfid of " + path, ec);
  ++result_->files;
  return copy_block(path, gfid, 0);
}

std::error_code consumer::settle() {
  for (const auto& owner : touched_) {
    const std::string target = r_.mirror + "/" + owner.first;
    os::file out;
    if (std::error_code ec = os::file::open(target, O_WRONLY, 0, &out)) {
      return fail("cannot open " + target, ec);
    }
    std::uint64_t size = 0;
    if (!os::file_size(owner.second, &size)) {
      if (std::error_code ec = out.truncate(static_cast<int64_t>(size))) {
        return fail("cannot set the size of " + target, ec);
      }
    }
    if (std::error_code ec = out.sync()) return fail("cannot sync " + target, ec);
    if (std::error_code ec = out.close()) return fail("cannot sync " + target, ec);
  }
  touched_.clear();
  if (std::error_code ec = os::sync_directory(r_.mirror)) return fail("cannot sync " + r_.mirror, ec);
  return std::error_code();
}

std::vector<std::string> list_paths(const nlohmann::json& manifest) {
  std::vector<std::string> paths;
  if (!manifest.contains("lists") || !manifest["lists"].is_array()) return paths;
  for (const nlohmann::json& l : manifest["lists"]) {
    paths.push_back(l.contains("path_hex") ? from_hex(l.value("path_hex", ""))
                                           : l.value("path", ""));
  }
  return paths;
}

bool read_manifest(const std::string& path, nlohmann::json* out) {
  std::string text;
  if (tarn::os::read_whole_file(path, &text)) return false;
  *out = nlohmann::json::parse(text, nullptr, false);
  return out->is_object();
}

std::error_code consumer::take(const std::string& name, const std::vector<std::string>& later) {
  const std::string runs = r_.top + "/.tarn/working/runs/" + r_.session + "/";
  nlohmann::json m;
  if (!read_manifest(runs + name, &m)) {
    return fail("cannot read the manifest " + runs + name,
                invalid());
  }
  const std::vector<std::string> paths = list_paths(m);
  static const std::string kLists = ".tarn/working/scanner/";
  for (const std::string& p : paths) {
    // Lists only: the consumer removes them once taken.
    if (p.compare(0, kLists.size(), kLists) != 0 || !stays_below(p)) {
      return fail("the manifest " + name + " names a list outside " + kLists + ": " + p,
                  invalid());
    }
  }
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const nlohmann::json& l = m["lists"][i];
    std::string text;
    if (std::error_code ec = read_range(r_.top + "/" + paths[i], l.value("offset", int64_t{0}),
                                        l.value("end", int64_t{0}), &text)) {
      return ec;
    }
    for (std::size_t at = 0; at < text.size();) {
      std::size_t eol = text.find('\n', at);
      if (eol == std::string::npos) eol = text.size();
      if (eol > at) {
        if (std::error_code ec = take_line(text.substr(at, eol - at))) return ec;
      }
      at = eol + 1;
    }
  }
  if (std::error_code ec = settle()) return ec;
  if (r_.before_removal && !r_.before_removal(name)) {
    return fail("stopped before removing " + name, std::error_code(EINTR, std::generic_category()));
  }
  if (std::error_code ec = tarn::os::remove_file(runs + name)) {
    return fail("cannot remove the manifest " + runs + name, ec);
  }
  result_->manifests.push_back(name);
  // A list that a later manifest names stays for it.
  std::set<std::string> named;
  for (const std::string& other : later) {
    nlohmann::json o;
    if (read_manifest(runs + other, &o)) {
      for (const std::string& p : list_paths(o)) named.insert(p);
    }
  }
  for (const std::string& p : paths) {
    if (named.count(p) == 0) tarn::os::remove_file(r_.top + "/" + p);
  }
  return std::error_code();
}

// The session's manifests, oldest first ("<UTC start>.json" sorts so).
std::vector<std::string> manifests_of(const std::string& dir) {
  std::list<std::string> names;
  std::vector<std::string> out;
  tarn::os::list_directory(dir, &names);
  for (const std::string& n : names) {
    if (!n.empty() && n[0] != '.' && n.size() > 5 && n.compare(n.size() - 5, 5, ".json") == 0)
      out.push_back(n);
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

std::error_code consume(const consume_request& request, consume_result* result) {
  if (request.block_size == 0) {
    result->failed = "the shard block size is not known";
    return invalid();
  }
  std::error_code made = os::make_directory(request.mirror, 0700);
  if (made && made.value() != EEXIST) {
    result->failed = "cannot make the mirror " + request.mirror + ": " + made.message();
    return made;
  }
  tarn::scanner::scanner lock_owner(request.volume, "", request.top);
  boost::shared_ptr<tarn::scanner::tarn_file> lock = lock_owner.acquire_lock(request.session);
  if (!lock) {
    std::error_code why = lock_owner.last_report().lock_error;
    result->failed = "the session's lock cannot be taken: " + why.message();
    return why ? why : std::error_code(EIO, std::generic_category());
  }
  consumer c(request, result);
  const std::vector<std::string> names =
      manifests_of(request.top + "/.tarn/working/runs/" + request.session);
  std::error_code ec;
  for (std::size_t i = 0; i < names.size() && !ec; ++i) {
    ec = c.take(names[i], std::vector<std::string>(names.begin() + i + 1, names.end()));
  }
  lock_owner.release_lock(lock);
  return ec;
}

uint64_t volume_block_size(const std::string& volume) {
  std::string out;
  const int status = tarn::os::run_shell_output(
      "gluster --mode=script volume get " + tarn::scanner::shell_quote(volume) +
          " features.shard-block-size 2>/dev/null",
      &out);
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return 0;
  const std::size_t at = out.find("features.shard-block-size");
  if (at == std::string::npos) return 0;
  std::string value = out.substr(at + 25);
  value.erase(0, value.find_first_not_of(" \t"));
  value = value.substr(0, value.find_first_of(" \t\n"));
  if (!value.empty() && (value.back() == 'B' || value.back() == 'b')) value.pop_back();
  std::size_t bytes = 0;
  return parse_size(value, &bytes) ? bytes : 0;
}

}  // namespace tarn_scan

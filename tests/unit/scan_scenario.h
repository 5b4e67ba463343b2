// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Change lists with a known outcome for whole scan runs: applications whose
// files own changed shard pieces, mixed with entries every run drops, and the
// result lists a correct run leaves in the volume for them.
#ifndef TARN_TESTS_UNIT_SCAN_SCENARIO_H_
#define TARN_TESTS_UNIT_SCAN_SCENARIO_H_

#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "scanner/scanner.h"
#include "unit/test_util.h"

namespace tarn {
namespace testing_util {

struct scan_scenario {
  std::string changelist;
  // Every result list of a correct run of the session, by its path below the
  // working directory ("<application>/<name>"), with its content.
  std::map<std::string, std::string> results;
};

// Applications "a0".."a<apps-1>", each with `files` files that own `pieces`
// changed pieces each; `variant` changes the file names (and so their gfids
// and pieces) from one run to the next. An application of more than 16000
// pieces is expected as chunk files. The change list also holds deleted and
// renamed files, excluded paths, a file without gfid, a piece of no listed
// file and an empty line.
scan_scenario make_scenario(const std::string& session, int apps, int files, int pieces,
                            int variant = 0);

// The gfid reader of scenario runs: the identifier of a file follows from its
// last two path components, as make_scenario derives it; files whose names
// begin with "nogfid" have none.
std::error_code scenario_gfid(const std::string& path, const char* name, unsigned char* value);

// The text form of the gfid scenario_gfid gives the file `entry`.
std::string scenario_gfid_text(const std::string& entry);

// The local side that reads the gfids of scenario_gfid, in force on this
// thread while it lives.
std::unique_ptr<attribute_side> use_scenario_gfids();

// Every file below `root` with its content, by relative path.
std::map<std::string, std::string> read_tree(const std::string& root);

// The files of a run in its output directory `out`, as read_tree gives
// them: the marker and the leftovers set aside are not among them.
std::map<std::string, std::string> run_files(const std::string& out);

// The names of files in `dir` whose entry-count suffix (the number after
// the last ".") differs from the number of lines they hold. Names without
// such a suffix are not looked at.
std::vector<std::string> lists_not_whole(const std::string& dir);

}  // namespace testing_util
}  // namespace tarn

#endif  // TARN_TESTS_UNIT_SCAN_SCENARIO_H_

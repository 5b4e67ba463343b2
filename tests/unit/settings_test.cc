// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The environment variables, read in one place with one rule: empty is unset.
#include "core/settings.h"

#include <gtest/gtest.h>

#include "unit/test_util.h"

namespace tarn {
namespace {

using testing_util::scoped_env;

TEST(SettingsTest, AnEmptyVariableIsAnUnsetOne) {
  struct row {
    const char* name;
    std::string (*read)();
    const char* otherwise;
  };
  const row rows[] = {
      {"TARN_LOCAL_VOLUME_ROOT", settings::local_volume_root, ""},
      {"TARN_GLUSTER_SERVER", settings::gluster_server, ""},
      {"TARN_GLUSTERFIND_DIR", settings::glusterfind_dir, "/var/lib/glusterd/glusterfind"},
      {"TARN_GLUSTERFIND_LOG_DIR", settings::glusterfind_log_dir,
       "/var/log/glusterfs/glusterfind"},
      {"TARN_LOG_FILE", settings::log_file, ""},
      {"TARN_CREATE_HELPER", settings::create_helper, ""},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    {
      scoped_env unset(r.name);
      EXPECT_EQ(r.read(), r.otherwise);
    }
    {
      scoped_env empty(r.name, "");
      EXPECT_EQ(r.read(), r.otherwise);
    }
    scoped_env set(r.name, "/x");
    EXPECT_EQ(r.read(), "/x");
  }
}

}  // namespace
}  // namespace tarn

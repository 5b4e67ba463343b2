// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Symbol visibility for the tarn libraries: everything is hidden unless marked.
#ifndef TARN_CORE_TARN_EXPORT_H_
#define TARN_CORE_TARN_EXPORT_H_

#define TARN_EXPORT __attribute__((visibility("default")))

#endif  // TARN_CORE_TARN_EXPORT_H_

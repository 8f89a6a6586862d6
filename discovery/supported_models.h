// The printer models the driver package supports, recognised by the port
// description their USB interface reports.
#pragma once

#include <cstdint>

constexpr uint8_t MODEL_FLAG_LANGUAGE_MONITOR = 0x10;

struct SupportedModel {
  const wchar_t* manufacturer;
  const wchar_t* model;  // null ends the table
  uint8_t flags;
};

extern const SupportedModel SupportedModelTable[];

// The row whose "manufacturer model" or "manufacturermodel" equals the
// description exactly, or null. Traces the outcome.
const SupportedModel* FindSupportedModel(const wchar_t* description);

#include "discovery/supported_models.h"

#include "common/text.h"
#include "common/trace.h"

// The 0x01 bit is set in every row; nothing depends on it.
const SupportedModel SupportedModelTable[] = {
    {L"Vellumor", L"VL-K410A_", 0x11},
    {L"Vellumor", L"VL-K411A_", 0x11},
    {L"Vellumor", L"VL-K412A_", 0x11},
    {L"Vellumor", L"VL-K413A_", 0x11},
    {L"Vellumor", L"VL-K414A_", 0x11},
    {L"Vellumor", L"VL-K20", 0x11},
    {L"Vellumor", L"VL-K21", 0x11},
    {L"Vellumor", L"VL-K29", 0x11},
    {nullptr, nullptr, 0},
};

const SupportedModel* FindSupportedModel(const wchar_t* description) {
  if (description == nullptr) return nullptr;
  for (const SupportedModel* row = SupportedModelTable; row->model != nullptr; ++row) {
    WideText<100> joined;
    WideText<100> spaced;
    BoundedFormat(joined, L"%ws%ws", row->manufacturer, row->model);
    BoundedFormat(spaced, L"%ws %ws", row->manufacturer, row->model);
    if (joined.equals(description) || spaced.equals(description)) {
      trace("Found model %ws, %ws %ws", description, row->manufacturer, row->model);
      return row;
    }
  }
  trace("Found not model %ws", description);
  return nullptr;
}

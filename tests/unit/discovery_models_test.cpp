// Matching a port description against the supported models.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery/supported_models.h"
#include "tests/fakes/fake_machine.h"

namespace {

TEST(SupportedModels, EveryModelMatchesWithOrWithoutTheBlankAndUsesTheMonitor) {
  FakeMachine m;
  const wchar_t* models[] = {L"VL-K410A_", L"VL-K411A_", L"VL-K412A_", L"VL-K413A_",
                             L"VL-K414A_", L"VL-K20",    L"VL-K21",    L"VL-K29"};
  for (size_t i = 0; i < std::size(models); ++i) {
    for (const std::wstring& description :
         {L"Vellumor " + std::wstring(models[i]), L"Vellumor" + std::wstring(models[i])}) {
      const SupportedModel* row = FindSupportedModel(description.c_str());
      ASSERT_EQ(row, &SupportedModelTable[i]) << description.c_str();
      EXPECT_STREQ(row->manufacturer, L"Vellumor");
      EXPECT_EQ(row->flags, 0x11);
      EXPECT_TRUE(row->flags & MODEL_FLAG_LANGUAGE_MONITOR);
    }
  }
  EXPECT_EQ(SupportedModelTable[std::size(models)].model, nullptr);
}

TEST(SupportedModels, MatchTracesTheDescriptionAndTheRow) {
  FakeMachine m;
  EXPECT_EQ(FindSupportedModel(L"VellumorVL-K20"), &SupportedModelTable[5]);
  EXPECT_EQ(FindSupportedModel(L"Vellumor VL-K20"), &SupportedModelTable[5]);
  EXPECT_EQ(FindSupportedModel(L"Vellumor VL-K410A_"), &SupportedModelTable[0]);
  EXPECT_EQ(m.TraceLines(), (std::vector<std::wstring>{
                                L"Found model VellumorVL-K20, Vellumor VL-K20",
                                L"Found model Vellumor VL-K20, Vellumor VL-K20",
                                L"Found model Vellumor VL-K410A_, Vellumor VL-K410A_"}));
}

TEST(SupportedModels, OnlyExactWholeTextsMatch) {
  FakeMachine m;
  const std::vector<std::wstring> others = {
      L"vellumor vl-k20", L"Vellumor  VL-K20", L"Vellumor VL-K20 ", L"VL-K20",
      L"Vellumor VL-K410A", L"Vellumor VL-K2", L"Vellumor VL-K200", L""};
  std::vector<std::wstring> expected;
  for (const std::wstring& d : others) {
    EXPECT_EQ(FindSupportedModel(d.c_str()), nullptr) << d.c_str();
    expected.push_back(L"Found not model " + d);
  }
  EXPECT_EQ(m.TraceLines(), expected);
}

TEST(SupportedModels, AbsentDescriptionMatchesNothingSilently) {
  FakeMachine m;
  EXPECT_EQ(FindSupportedModel(nullptr), nullptr);
  EXPECT_TRUE(m.debug_writes.empty());
}

}  // namespace

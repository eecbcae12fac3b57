#include <gtest/gtest.h>

#include <string>

#include "audio/eq_config.h"

namespace {

size_t count(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
  return n;
}

std::string specs(int n, int stereo_at = -1) {
  std::string s;
  for (int i = 0; i < n; ++i) {
    if (i) s += '\t';
    s += "bq_peaking,1000,1,3";
    if (i == stereo_at) s += ",4";
  }
  return s;
}

TEST(EqConfig, ParsesSpecsSkippingShortAndEmptyOnes) {
  auto eq = eq_parse_filters("bq_lowshelf,100,0.7,-3\t\tbad,1,2\tlinear,0,0,0.5,0.25\tx,abc,,2,");
  ASSERT_EQ(eq.size(), 3u);
  EXPECT_EQ(eq[0].type, "bq_lowshelf");
  EXPECT_DOUBLE_EQ(eq[0].q, 0.7);
  EXPECT_DOUBLE_EQ(eq[0].gain_r, -3);
  EXPECT_FALSE(eq[0].has_gain_r);
  EXPECT_TRUE(eq[1].has_gain_r);
  EXPECT_DOUBLE_EQ(eq[1].gain_r, 0.25);
  // Non-numbers read as 0; an empty fifth field is no right gain.
  EXPECT_EQ(eq[2].freq, 0);
  EXPECT_FALSE(eq[2].has_gain_r);
  EXPECT_FALSE(eq_is_mono(eq));
  EXPECT_TRUE(eq_parse_filters("").empty());
}

TEST(EqConfig, CapsTheChainByMode) {
  auto mono = eq_parse_filters(specs(30));
  EXPECT_EQ(mono.size(), 28u);
  std::string cfg = eq_config(mono, "ovalis-eq-1");
  EXPECT_EQ(count(cfg, "type = builtin"), 28u);
  EXPECT_NE(cfg.find("name = f27 "), std::string::npos);
  EXPECT_NE(cfg.find("outputs = [ \"f27:Out\" ]"), std::string::npos);
  EXPECT_EQ(count(cfg, "{ output ="), 27u);

  auto stereo = eq_parse_filters(specs(20, 3));
  EXPECT_EQ(stereo.size(), 15u);
  cfg = eq_config(stereo, "ovalis-eq-1");
  EXPECT_EQ(count(cfg, "type = builtin"), 30u);
  EXPECT_NE(cfg.find("inputs  = [ \"f0L:In\" \"f0R:In\" ]"), std::string::npos);
  EXPECT_NE(cfg.find("outputs = [ \"f14L:Out\" \"f14R:Out\" ]"), std::string::npos);
  EXPECT_NE(cfg.find("{ output = \"f0R:Out\" input = \"f1R:In\" }"), std::string::npos);
  EXPECT_NE(cfg.find("playback.props = { node.name = \"ovalis-eq-1-out\" node.passive = true"),
            std::string::npos);
}

TEST(EqConfig, LinearStereoNodesAndNumberFormat) {
  // A plain gain becomes a one-input mixer, wired through its "In 1" port.
  auto eq = eq_parse_filters("linear,0,0,0.5,0.25\tbq_peaking,1,1,0,0\tlinear,0,0,2,2");
  std::string cfg = eq_config(eq, "s");
  EXPECT_NE(cfg.find("name = f0L label = \"mixer\" control = { \"Gain 1\" = 0.5 } }"), std::string::npos);
  EXPECT_NE(cfg.find("name = f0R label = \"mixer\" control = { \"Gain 1\" = 0.25 } }"), std::string::npos);
  EXPECT_NE(cfg.find("inputs  = [ \"f0L:In 1\" \"f0R:In 1\" ]"), std::string::npos) << cfg;
  EXPECT_NE(cfg.find("{ output = \"f0R:Out\" input = \"f1R:In\" }"), std::string::npos) << cfg;
  EXPECT_NE(cfg.find("{ output = \"f1L:Out\" input = \"f2L:In 1\" }"), std::string::npos) << cfg;
  EXPECT_EQ(cfg.find("linear"), std::string::npos);
  EXPECT_EQ(eq_num(1000), "1000");
  EXPECT_EQ(eq_num(0.5), "0.5");
  EXPECT_EQ(eq_num(1234.5678), "1234.57");
  EXPECT_EQ(eq_num(1e-7), "1e-07");
  EqFilter f{"bq_peaking", 2000, 1.5, -6};
  EXPECT_EQ(eq_node_ctrl(f, true), "\"Freq\" = 2000 \"Q\" = 1.5 \"Gain\" = -6");
}

TEST(EqConfig, ShapeDecidesRebuild) {
  auto a = eq_parse_filters("bq_peaking,100,1,1\tbq_highshelf,8000,1,2");
  EXPECT_TRUE(eq_same_shape(a, eq_parse_filters("bq_peaking,300,2,5\tbq_highshelf,9000,1,-2")));
  EXPECT_FALSE(eq_same_shape(a, eq_parse_filters("bq_peaking,100,1,1\tbq_lowshelf,8000,1,2")));
  EXPECT_FALSE(eq_same_shape(a, eq_parse_filters("bq_peaking,100,1,1")));
  EXPECT_FALSE(eq_same_shape(a, eq_parse_filters("bq_peaking,100,1,1\tbq_highshelf,8000,1,2,3")));
}

TEST(EqConfig, PushesInRunsOfEighteen) {
  auto eq = eq_parse_filters(specs(14));  // 42 entries
  auto entries = eq_param_entries(eq, -1, true);
  ASSERT_EQ(entries.size(), 42u);
  EXPECT_EQ(entries[0], "\"f0:Freq\" 1000");
  std::string s = eq_push_script(entries);
  EXPECT_EQ(count(s, "pw-cli set-param"), 3u);
  EXPECT_EQ(count(s, ":Freq\""), 14u);
  // Only one filter, both sides in stereo mode.
  auto st = eq_parse_filters("linear,0,0,0.5,0.25\tbq_peaking,1,2,3");
  EXPECT_EQ(eq_param_entries(st, 0, false),
            (std::vector<std::string>{"\"f0L:Gain 1\" 0.5", "\"f0R:Gain 1\" 0.25"}));
  EXPECT_EQ(eq_param_entries(st, 1, false).size(), 6u);
  EXPECT_TRUE(eq_param_entries(st, 2, false).empty());
}

TEST(EqConfig, BalanceAndFilterSetFields) {
  EXPECT_EQ(eq_balance_volumes(0.25), (std::pair<double, double>{0.75, 1}));
  EXPECT_EQ(eq_balance_volumes(-0.5), (std::pair<double, double>{1, 0.5}));
  EXPECT_EQ(eq_balance_volumes(-2), (std::pair<double, double>{1, 0}));
  EXPECT_EQ(eq_balance_volumes(3), (std::pair<double, double>{0, 1}));
  EXPECT_NE(eq_balance_script(0.25).find("channelVolumes = [ 0.75, 1 ]"), std::string::npos);
  EqSet s;
  EXPECT_FALSE(eq_parse_set("0\t1\t2", s));
  ASSERT_TRUE(eq_parse_set("2\t500\t0.7\t-4", s));
  EXPECT_EQ(s.index, 2);
  EXPECT_DOUBLE_EQ(s.gain, -4);
}

// Outside text never becomes script or configuration syntax.
TEST(EqConfig, HostileTextStaysData) {
  auto eq = eq_parse_filters("bq_peaking } ] \"x\\,1,1,1");
  ASSERT_EQ(eq.size(), 1u);
  std::string cfg = eq_config(eq, "ovalis-eq-1");
  EXPECT_NE(cfg.find("label = \"bq_peaking } ] \\\"x\\\\\" control"), std::string::npos) << cfg;
  for (const std::string& s : {eq_route_script(), eq_push_script(eq_param_entries(eq, -1, true)),
                               eq_balance_script(0.5)}) {
    // Names arrive only through the environment; nothing else is spliced in.
    EXPECT_EQ(s.find("ovalis-eq"), std::string::npos);
    EXPECT_EQ(count(s, "'") % 2, 0u);
  }
}

}  // namespace

// Pure parts of the window features: hint arithmetic, the rescue rule, the
// monitor identifier and the JSON builders on given monitor data.
#include <gtest/gtest.h>

#include "windows/windows.h"

TEST(MotifHints, ControlsGiveFunctionsAndDecorations) {
  MotifHints h = motif_hints_for("close,minimize", true);
  EXPECT_EQ(h.functions, 46);
  EXPECT_EQ(h.decorations, 62);
  h = motif_hints_for("none", true);
  EXPECT_EQ(h.functions, 6);
  EXPECT_EQ(h.decorations, 30);
  h = motif_hints_for("all", true);
  EXPECT_EQ(h.functions, 62);
  EXPECT_EQ(h.decorations, 126);
  // An undecorated window gets no decorations whatever its controls.
  EXPECT_EQ(motif_hints_for("all", false).decorations, 0);
  EXPECT_EQ(motif_hints_for("maximize", true).functions, 2 + 4 + 16);
}

TEST(Rescue, WindowShowingEnoughStaysPut) {
  std::vector<Rect> one = {{0, 0, 1280, 800}};
  int nx = -1, ny = -1;
  // 30 pixels inside the right edge: visible enough.
  EXPECT_FALSE(rescue_target(one, 1250, 100, 400, 300, &nx, &ny));
  // 20 pixels inside: moved left until it fits.
  ASSERT_TRUE(rescue_target(one, 1260, 100, 400, 300, &nx, &ny));
  EXPECT_EQ(nx, 880);
  EXPECT_EQ(ny, 100);
  // No monitors: nothing to do.
  EXPECT_FALSE(rescue_target({}, 5000, 5000, 10, 10, &nx, &ny));
}

TEST(Rescue, NearestWorkAreaWinsAndTiesGoToTheLowerIndex) {
  std::vector<Rect> two = {{0, 0, 1280, 800}, {1280, 0, 1280, 800}};
  int nx = 0, ny = 0;
  // Left of the right monitor's removed neighbour: far right, off every area.
  ASSERT_TRUE(rescue_target(two, 3000, 200, 400, 300, &nx, &ny));
  EXPECT_EQ(nx, 2160);
  EXPECT_EQ(ny, 200);
  // Above both, centred on their shared edge: equal distance, monitor 0.
  ASSERT_TRUE(rescue_target(two, 1080, -1000, 400, 300, &nx, &ny));
  EXPECT_EQ(nx, 880);
  EXPECT_EQ(ny, 0);
  // Bigger than the work area: pinned to its top-left.
  ASSERT_TRUE(rescue_target(two, -3000, -3000, 2000, 1000, &nx, &ny));
  EXPECT_EQ(nx, 0);
  EXPECT_EQ(ny, 0);
}

TEST(Screens, MonitorIdentifier) {
  MonitorInfo m;
  EXPECT_EQ(monitor_uid_of(m, 0), "0");
  EXPECT_EQ(monitor_uid_of(m, 3), "3");
  m.connector = "eDP-1";
  EXPECT_EQ(monitor_uid_of(m, 0), "eDP-1//");
  m.connector.clear();
  m.has_model = true;  // a model, even an empty one, names the monitor
  EXPECT_EQ(monitor_uid_of(m, 2), "//");
  m.connector = "HDMI-1", m.has_manufacturer = true, m.manufacturer = "DEL", m.model = "U2720Q";
  EXPECT_EQ(monitor_uid_of(m, 1), "HDMI-1/DEL/U2720Q");
}

TEST(Screens, ObjectHasLogicalAndDevicePixelGeometry) {
  MonitorInfo m;
  m.width = 1280, m.height = 800;
  m.ax = 0, m.ay = 27, m.aw = 1280, m.ah = 773;
  m.scale = 2, m.primary = true, m.connector = "eDP-1";
  EXPECT_EQ(screen_json(m, 0),
            "{\"id\":0,\"uid\":\"eDP-1//\",\"name\":null,\"x\":0,\"y\":0,\"width\":1280,"
            "\"height\":800,\"visible\":{\"x\":0,\"y\":27,\"width\":1280,\"height\":773},"
            "\"scale\":2,\"primary\":true,\"internal\":true,\"pixels\":{\"width\":2560,"
            "\"height\":1600,\"visible\":{\"x\":0,\"y\":54,\"width\":2560,\"height\":1546}}}");
}

TEST(Screens, ArrayOfSeveralMonitors) {
  EXPECT_EQ(screens_json_of({}), "[]");
  MonitorInfo a, b;
  a.connector = "HDMI-1", a.has_model = true, a.model = "Q\"uote";
  b.x = 1920, b.ax = 1920, b.width = b.aw = 1280, b.height = b.ah = 1024;
  b.connector = "LVDS-1";
  std::string s = screens_json_of({a, b});
  EXPECT_EQ(s.front(), '[');
  EXPECT_NE(s.find("{\"id\":0,\"uid\":\"HDMI-1//Q\\\"uote\",\"name\":\"Q\\\"uote\""),
            std::string::npos);
  EXPECT_NE(s.find("\"internal\":false,"), std::string::npos);
  // Device-pixel work area is relative to the monitor's own corner.
  EXPECT_NE(s.find("},{\"id\":1,\"uid\":\"LVDS-1//\",\"name\":null,\"x\":1920"),
            std::string::npos);
  EXPECT_NE(s.find("\"internal\":true,\"pixels\":{\"width\":1280,\"height\":1024,"
                   "\"visible\":{\"x\":0,\"y\":0,"),
            std::string::npos);
}

TEST(Screens, WindowFieldsAreLocalToTheMonitor) {
  EXPECT_EQ(screen_fields_json(1, 1920, 0, 2, 1925, 10, 800, 600),
            "\"screenId\":1,\"local\":{\"x\":5,\"y\":10},"
            "\"pixels\":{\"x\":10,\"y\":20,\"width\":1600,\"height\":1200}");
}

TEST(WinState, CompactObjectNeverReportsMaximizedWhileFullscreen) {
  EXPECT_EQ(winstate_compact_json(kWsMaximized | kWsFocused, 0),
            "{\"fullscreen\":false,\"maximized\":true,\"minimized\":false,\"focused\":true,"
            "\"screenId\":0}");
  EXPECT_EQ(winstate_compact_json(kWsMaximized | kWsFullscreen | kWsIconified, 2),
            "{\"fullscreen\":true,\"maximized\":false,\"minimized\":true,\"focused\":false,"
            "\"screenId\":2}");
}

TEST(Drop, OnlyLocalFilesAreListedInOrderAndEscaped) {
  EXPECT_EQ(drop_json({"file:///a/b.txt", "file:///c/d%20e.png"}),
            "[\"/a/b.txt\",\"/c/d e.png\"]");
  EXPECT_EQ(drop_json({"https://example.com/x", "file:///q%22uote"}), "[\"/q\\\"uote\"]");
  EXPECT_EQ(drop_json({"https://example.com/x"}), "");
  EXPECT_EQ(drop_json({}), "");
}

TEST(ResizeEdge, NamesAndTheSouthEastDefault) {
  EXPECT_EQ(resize_edge("nw"), GDK_WINDOW_EDGE_NORTH_WEST);
  EXPECT_EQ(resize_edge("n"), GDK_WINDOW_EDGE_NORTH);
  EXPECT_EQ(resize_edge("w"), GDK_WINDOW_EDGE_WEST);
  EXPECT_EQ(resize_edge("s"), GDK_WINDOW_EDGE_SOUTH);
  EXPECT_EQ(resize_edge("se"), GDK_WINDOW_EDGE_SOUTH_EAST);
  EXPECT_EQ(resize_edge("middle"), GDK_WINDOW_EDGE_SOUTH_EAST);
  EXPECT_EQ(resize_edge(""), GDK_WINDOW_EDGE_SOUTH_EAST);
}

// The demo application, shared between its files: the backend connection,
// the state the page asks about, and the scripted tour.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "ovalis/backend.h"

struct Demo {
  ovalis::Backend b;
  std::string page_dir;
  std::string page;  // index.html
  bool dark = false;
  bool show_ticks = true;
  long long ticks = 0;
  long long notify_seq = 0;
  ovalis::Json store = ovalis::JsonObject{};
  std::set<std::string> ready;  // windows whose page has its handlers in place

  // The tour (no display): panels in order, one screenshot each.
  std::string shots_dir;  // empty: no tour
  std::vector<std::string> tour;
  size_t tour_at = 0;
  std::vector<std::string> shots;  // written screenshots
  std::vector<std::string> failed;  // panels without one
  int settle_ms = 1500;

  void emit_ready(std::string_view event, const ovalis::Json& data);
};

// Page methods, by panel.
void install_panels(Demo& d);
// Starts the tour once the main page is ready; quits when it is done.
void start_tour(Demo& d, const ovalis::Json& panels);
void on_panel_shown(Demo& d, const std::string& panel);

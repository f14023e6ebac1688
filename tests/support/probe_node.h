// A node kind built only for tests: two integer settings, a float and a
// colour parameter with their inputs, three outputs. It exercises every
// common lifecycle step the framework runs from a kind's table.
#pragma once

#include "framework/node_kind.h"
#include "host/lw_host.h"

namespace probe {

struct Instance {
  int32_t mode;
  int32_t count;
  double value;
  LWVParmID valueParm;
  double tint[3];
  LWVParmID tintParm;
  LWChanGroupID group;
  LWXPanelID panel;
  NodeID node;
  NodeInputID valueIn;
  NodeInputID tintIn;
  NodeOutputID valueOut;
  NodeOutputID modeOut;
  NodeOutputID tintOut;
};

// A module holding the probe's NodeHandler server "Probe".
const ModuleDescriptor *descriptor();
// The probe kind's own service handles, as its activations stored them.
const juxs::fw::Services &services();

} // namespace probe

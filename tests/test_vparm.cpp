#include <gtest/gtest.h>

#include <algorithm>

#include "hostsim/host.h"
#include "hostsim/services/streams.h"
#include "tests/support/checked.h"

using namespace hostsim;

namespace {

// The services as a module's create callback calls them; any call the host
// refuses fails the test, unless the test takes it first.
class HostCalls : public ::testing::Test {
protected:
  void TearDown() override { testsupport::expectNoViolations(host); }
  Host host;
  CallbackScope inCreate{Callback::Create, nullptr};
};

TEST(Envelope, LinearAndSteppedKeysHoldOutsideTheirRange) {
  Envelope e;
  e.set(1.0, 10.0, KeyShape::Linear);
  e.set(3.0, 20.0, KeyShape::Stepped);
  e.set(4.0, 0.0, KeyShape::Linear);
  EXPECT_EQ(e.at(0.0), 10.0);
  EXPECT_EQ(e.at(2.0), 15.0);
  EXPECT_EQ(e.at(3.5), 20.0);
  EXPECT_EQ(e.at(4.0), 0.0);
  EXPECT_EQ(e.at(99.0), 0.0);
  e.set(2.0, 12.0, KeyShape::Linear); // inserted in time order
  EXPECT_EQ(e.at(1.5), 11.0);
}

TEST_F(HostCalls, ParametersOfEveryTypeCode) {
  const LWVParmFuncs *f = host.vparms().funcs();
  for (int32_t type : {LWVP_FLOAT, LWVP_FLOAT3, LWVP_PERCENT, LWVP_DIST, LWVP_ANGLE, LWVP_COLOR}) {
    SCOPED_TRACE(type);
    LWVParmID p = f->create(type, -1);
    ASSERT_TRUE(p);
    const int n = (type & 0xF) ? 3 : 1;
    double set[3] = {0.25, 0.5, 0.75};
    EXPECT_EQ(f->setVal(p, set), n) << "the host's setVal answers how many components it took";
    double got[3] = {-1, -1, -1};
    EXPECT_EQ(f->getVal(p, 0.0, nullptr, got), 0.25);
    EXPECT_EQ(got[n - 1], set[n - 1]);
    if (n == 1) {
      EXPECT_EQ(got[1], -1) << "a one-component parameter writes one value";
    }
    f->destroy(p);
  }
  EXPECT_EQ(f->create(0x99, -1), nullptr);
  EXPECT_TRUE(testsupport::refusedOnce(host, {"\"LWVParmFuncs 2\" create", "0x99 is not a parameter type code"}));
  EXPECT_EQ(host.vparms().liveCount(), 0u);
}

TEST_F(HostCalls, CopySaveAndLoadCarryKeys) {
  const LWVParmFuncs *f = host.vparms().funcs();
  LWVParmID a = f->create(LWVP_COLOR, -1), b = f->create(LWVP_COLOR, -1), one = f->create(LWVP_FLOAT, -1);
  VParm *pa = host.vparms().find(a);
  pa->value[2] = 0.5;
  pa->env[1].set(0.0, 1.0, KeyShape::Linear);
  pa->env[1].set(2.0, 3.0, KeyShape::Linear);
  EXPECT_EQ(f->getState(a), LWVPSF_ENV);
  ASSERT_EQ(f->copy(b, a), nullptr);
  double v[3];
  f->getVal(b, 1.0, nullptr, v);
  EXPECT_EQ(v[1], 2.0);
  EXPECT_EQ(v[2], 0.5);
  EXPECT_NE(f->copy(one, a), nullptr) << "component counts differ";
  EXPECT_TRUE(testsupport::refusedOnce(host, {"copy", "a parameter of 3 values copied into one of 1"}));

  SaveStream out;
  {
    SaveScope save(out, nullptr);
    ASSERT_EQ(f->save(a, save.state()), nullptr);
  }
  LWVParmID c = f->create(LWVP_COLOR, -1);
  LoadStream in(out.bytes());
  {
    LoadScope load(in, nullptr);
    ASSERT_EQ(f->load(c, load.state()), nullptr);
  }
  f->getVal(c, 0.5, nullptr, v);
  EXPECT_EQ(v[1], 1.5);

  LoadStream wrong(out.bytes());
  LoadScope load(wrong, nullptr);
  EXPECT_NE(f->load(one, load.state()), nullptr);
}

TEST_F(HostCalls, BadDataLeavesTheParameterAsItWas) {
  const LWVParmFuncs *f = host.vparms().funcs();
  LWVParmID p = f->create(LWVP_FLOAT, -1);
  double seven = 7.0;
  f->setVal(p, &seven);
  SaveStream out;
  const int32_t n = 1, hugeCount = 1 << 30;
  const double value = 3.0;
  out.state()->writeI4(out.state()->writeData, &n, 1);
  out.state()->writeDP(out.state()->writeData, &value, 1);
  out.state()->writeI4(out.state()->writeData, &hugeCount, 1);
  LoadStream in(out.bytes());
  {
    LoadScope load(in, nullptr);
    EXPECT_NE(f->load(p, load.state()), nullptr) << "an impossible key count is refused, not allocated";
  }
  std::vector<uint8_t> bytes = out.bytes();
  bytes.resize(bytes.size() - 1);
  LoadStream truncated(bytes);
  {
    LoadScope load(truncated, nullptr);
    EXPECT_NE(f->load(p, load.state()), nullptr);
  }
  double v[3];
  EXPECT_EQ(f->getVal(p, 0.0, nullptr, v), 7.0);
}

TEST_F(HostCalls, ChannelGroupsKeepANamedHierarchy) {
  const LWEnvelopeFuncs *e = host.vparms().envelopeFuncs();
  // Groups are made through the envelopes and walked through channel info.
  const LWChannelInfo *info = host.vparms().channelInfo();
  auto findGroup = [info](LWChanGroupID parent, const std::string &name) -> LWChanGroupID {
    for (LWChanGroupID g = info->nextGroup(parent, nullptr); g; g = info->nextGroup(parent, g))
      if (name == info->groupName(g)) return g;
    return nullptr;
  };
  LWChanGroupID scene = e->createGroup(nullptr, "Scene");
  LWChanGroupID node = e->createGroup(scene, "Sqrt (1)");
  LWChanGroupID own = e->createGroup(node, "Sqrt");
  EXPECT_EQ(reinterpret_cast<ChanGroup *>(own)->path(), "Scene/Sqrt (1)/Sqrt");
  EXPECT_EQ(findGroup(scene, "Sqrt (1)"), node);
  EXPECT_EQ(info->groupParent(own), node);
  EXPECT_EQ(info->groupParent(scene), nullptr);
  EXPECT_STREQ(info->groupName(own), "Sqrt");
  LWVParmID p = host.vparms().funcs()->create(LWVP_ANGLE, -1);
  host.vparms().funcs()->setup(p, "Angle", own, nullptr, nullptr, nullptr, nullptr);
  ASSERT_EQ(reinterpret_cast<ChanGroup *>(own)->channels.size(), 1u);
  e->destroyGroup(node);
  EXPECT_EQ(host.vparms().find(p)->group, nullptr) << "the parameter outlives its group";
  EXPECT_EQ(findGroup(scene, "Sqrt (1)"), nullptr);
}

// Parameters live in blocks of places; a handle is looked up, never trusted:
// one destroyed, one into the middle of a parameter and one from elsewhere
// are all unknown (and counted as bad), while every live one keeps its value
// through destroys and creations that take freed places.
TEST_F(HostCalls, HandlesAreCheckedWithoutBeingFollowed) {
  VParmService &s = host.vparms();
  const LWVParmFuncs *f = s.funcs();
  std::vector<std::pair<LWVParmID, double>> live;
  std::vector<LWVParmID> dead;
  double next = 1.0;
  auto makeSome = [&](int count) {
    for (int k = 0; k < count; ++k) {
      LWVParmID p = f->create(k % 2 ? LWVP_FLOAT : LWVP_COLOR, -1);
      ASSERT_TRUE(p);
      double v[3] = {next, next, next};
      f->setVal(p, v);
      live.emplace_back(p, next);
      next += 1.0;
    }
  };
  makeSome(1200); // many blocks, past the first size of the host's table of them
  for (std::size_t i = live.size(); i-- > 0;)
    if (i % 3 == 0 || i >= 900) {
      dead.push_back(live[i].first);
      f->destroy(live[i].first);
      live.erase(live.begin() + static_cast<std::ptrdiff_t>(i));
    }
  EXPECT_EQ(s.liveCount(), live.size());
  for (LWVParmID p : dead) EXPECT_EQ(s.findQuiet(p), nullptr);
  makeSome(400);
  EXPECT_EQ(s.liveCount(), live.size());
  std::vector<LWVParmID> handles;
  for (const auto &[p, value] : live) {
    ASSERT_NE(s.findQuiet(p), nullptr);
    double v[3];
    EXPECT_EQ(f->getVal(p, 0.0, nullptr, v), value);
    handles.push_back(p);
  }
  std::sort(handles.begin(), handles.end());
  EXPECT_EQ(std::adjacent_find(handles.begin(), handles.end()), handles.end()) << "two parameters share a place";

  const int bad = s.badHandles();
  auto *inside = reinterpret_cast<LWVParmID>(reinterpret_cast<char *>(live.front().first) + 8);
  double local = 0;
  EXPECT_EQ(s.find(inside), nullptr);
  EXPECT_EQ(s.find(reinterpret_cast<LWVParmID>(&local)), nullptr);
  EXPECT_EQ(s.find(nullptr), nullptr);
  EXPECT_EQ(s.badHandles(), bad + 3);
  f->destroy(inside); // an unknown handle destroys nothing
  EXPECT_EQ(s.liveCount(), live.size());
  EXPECT_TRUE(testsupport::refusedOnce(host, {"destroy", "not a variant parameter"}));
  for (const auto &entry : live) f->destroy(entry.first);
  EXPECT_EQ(s.liveCount(), 0u);
  f->destroy(live.back().first);
  EXPECT_TRUE(testsupport::refusedOnce(
      host, {"destroy", "a variant parameter (from \"LWVParmFuncs 2\" create) that was destroyed"}));
}

// Groups live in places of the service's own: through a group removed with
// its whole subtree and new ones taking the freed places, every other group
// keeps its name, parent and place among its siblings.
TEST_F(HostCalls, ChannelGroupsKeepTheirNamesAndOrderThroughChurn) {
  const LWEnvelopeFuncs *e = host.vparms().envelopeFuncs();
  const LWChannelInfo *info = host.vparms().channelInfo();
  auto names = [info](LWChanGroupID parent) {
    std::vector<std::string> out;
    for (LWChanGroupID g = info->nextGroup(parent, nullptr); g; g = info->nextGroup(parent, g)) {
      EXPECT_EQ(info->groupParent(g), parent);
      out.push_back(info->groupName(g));
    }
    return out;
  };
  // Names past the short-string size, so that a group not destroyed leaks.
  auto longName = [](const char *what, int i) { return std::string(what) + " with a long name, number " + std::to_string(i); };
  LWChanGroupID tops[3];
  std::vector<std::string> expected[3];
  for (int t = 0; t < 3; ++t) {
    tops[t] = e->createGroup(nullptr, longName("top", t).c_str());
    for (int i = 0; i < 50; ++i) { // past one block of places
      expected[t].push_back(longName("child", i));
      LWChanGroupID child = e->createGroup(tops[t], expected[t].back().c_str());
      e->createGroup(child, longName("grandchild", i).c_str());
    }
  }
  e->destroyGroup(tops[1]); // and its hundred descendants
  EXPECT_EQ(names(nullptr), (std::vector<std::string>{longName("top", 0), longName("top", 2)}));
  for (int i = 50; i < 170; ++i) { // into the freed places first
    expected[0].push_back(longName("child", i));
    e->createGroup(tops[0], expected[0].back().c_str());
  }
  EXPECT_EQ(names(tops[0]), expected[0]);
  EXPECT_EQ(names(tops[2]), expected[2]);
  LWChanGroupID child = info->nextGroup(tops[2], nullptr);
  EXPECT_EQ(names(child), std::vector<std::string>{longName("grandchild", 0)});
  EXPECT_EQ(reinterpret_cast<ChanGroup *>(info->nextGroup(child, nullptr))->path(),
            longName("top", 2) + "/" + longName("child", 0) + "/" + longName("grandchild", 0));

  // More parameters than a group's own room holds, some set up elsewhere
  // again, are listed in the order they were set up.
  const LWVParmFuncs *f = host.vparms().funcs();
  std::vector<LWVParmID> parms;
  std::vector<std::string> channels;
  for (int i = 0; i < 40; ++i) {
    parms.push_back(f->create(LWVP_FLOAT, -1));
    f->setup(parms.back(), longName("channel", i).c_str(), child, nullptr, nullptr, nullptr, nullptr);
    channels.push_back(longName("channel", i));
  }
  for (int i = 30; i >= 0; i -= 3) {
    f->setup(parms[static_cast<std::size_t>(i)], "Moved", tops[0], nullptr, nullptr, nullptr, nullptr);
    channels.erase(channels.begin() + i);
  }
  std::vector<std::string> listed;
  for (LWChannelID c = info->nextChannel(child, nullptr); c; c = info->nextChannel(child, c)) {
    EXPECT_EQ(info->channelParent(c), child);
    listed.push_back(info->channelName(c));
  }
  EXPECT_EQ(listed, channels);
  for (LWVParmID p : parms) f->destroy(p);
}

} // namespace

// The host's C functions throw nothing into the module. A call the host
// cannot do for want of memory answers as for nothing (null, 0, an error
// text), leaves the host as it was, and keeps a fault that fails the command;
// a failure is never reported as success. Each call is run once for every
// allocation it makes, with that one failing. And the calls render threads
// make for every sample allocate nothing at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/failing_new.h"
#include "tests/support/host_fixture.h"

namespace {

using testsupport::allocationsOf;
using testsupport::InCallback;
using testsupport::withAllocationFailing;

// Longer than a string keeps without an allocation of its own.
constexpr const char *kLongName = "a name longer than any string holds in place";

NodeID idOf(hostsim::HostNode *n) { return reinterpret_cast<NodeID>(n); }

class HostFailures : public testsupport::HostFixture {
protected:
  // Runs op once for each allocation it makes, that allocation failing, then
  // once with none failing. After each failed run failed() checks the answer
  // and that nothing changed, and the one fault recorded must be the host's,
  // naming the call; after the clean run succeeded() checks what was done,
  // and nothing may be recorded.
  template <class Op, class Failed, class Succeeded>
  void eachAllocationFailing(const std::string &function, Op op, Failed failed, Succeeded succeeded) {
    long k = 0;
    for (; k < 10000 && withAllocationFailing(k, op); ++k) {
      SCOPED_TRACE(function + ", allocation " + std::to_string(k) + " failing");
      failed();
      const std::vector<hostsim::Violation> faults = host.checks().take();
      ASSERT_EQ(faults.size(), 1u);
      EXPECT_TRUE(faults[0].hostFault);
      EXPECT_NE(faults[0].line().find(function + ": out of memory"), std::string::npos) << faults[0].line();
    }
    EXPECT_GT(k, 0) << function << " made no allocation to fail";
    SCOPED_TRACE(function + ", no allocation failing");
    succeeded();
    testsupport::expectNoViolations(host);
  }
};

TEST_F(HostFailures, InputsAndOutputsAreMadeWholeOrNotAtAll) {
  hostsim::HostNode *node = net->addHostNode("Bare", {}, nullptr);
  const LWNodeInputFuncs &inputs = *host.nodes().inputFuncs();
  const LWNodeOutputFuncs &outputs = *host.nodes().outputFuncs();
  InCallback scope;
  NodeInputID in = nullptr;
  eachAllocationFailing(
      "\"NodeInputFuncs\" create", [&] { in = inputs.create(idOf(node), CONN_SCALAR, kLongName, nullptr); },
      [&] {
        EXPECT_EQ(in, nullptr);
        EXPECT_EQ(inputs.numInputs(idOf(node)), 0);
      },
      [&] {
        ASSERT_NE(in, nullptr);
        EXPECT_EQ(inputs.byIndex(idOf(node), 1), in);
        EXPECT_EQ(node->inputs[0]->name, kLongName);
        EXPECT_TRUE(host.checks().live(in, hostsim::Handle::Input));
      });
  NodeOutputID out = nullptr;
  eachAllocationFailing(
      "\"NodeOutputFuncs\" create", [&] { out = outputs.create(idOf(node), CONN_COLOR, kLongName); },
      [&] {
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(outputs.numOutputs(idOf(node)), 0);
      },
      [&] {
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(outputs.byIndex(idOf(node), 1), out);
        EXPECT_TRUE(host.checks().live(out, hostsim::Handle::Output));
      });
}

TEST_F(HostFailures, ParametersEnvelopesAndGroupsKeepTheirFormerState) {
  const LWVParmFuncs &vp = *host.vparms().funcs();
  const LWEnvelopeFuncs &env = *host.vparms().envelopeFuncs();
  InCallback scope;

  const std::size_t live = host.vparms().liveCount();
  LWVParmID made = nullptr;
  eachAllocationFailing(
      "\"LWVParmFuncs 2\" create", [&] { made = vp.create(LWVP_FLOAT, LWVPDT_NOTXTR); },
      [&] {
        EXPECT_EQ(made, nullptr);
        EXPECT_EQ(host.vparms().liveCount(), live);
      },
      [&] {
        ASSERT_NE(made, nullptr);
        EXPECT_EQ(host.vparms().liveCount(), live + 1);
        EXPECT_TRUE(host.checks().live(made, hostsim::Handle::Parameter));
      });

  // Set up in a group: named and listed there, or neither.
  hostsim::ChanGroup *group = host.vparms().createGroup(nullptr, "Group");
  hostsim::VParm *p = host.vparms().find(made);
  eachAllocationFailing(
      "\"LWVParmFuncs 2\" setup",
      [&] { vp.setup(made, kLongName, reinterpret_cast<LWChanGroupID>(group), nullptr, nullptr, nullptr, nullptr); },
      [&] {
        EXPECT_EQ(p->channel, "");
        EXPECT_EQ(p->group, nullptr);
        EXPECT_TRUE(group->channels.empty());
      },
      [&] {
        EXPECT_EQ(p->channel, kLongName);
        EXPECT_EQ(p->group, group);
        EXPECT_EQ(group->channels.size(), 1u);
      });

  // A copy that fails says so, and leaves the destination as it was.
  LWVParmID from = vp.create(LWVP_FLOAT, LWVPDT_NOTXTR);
  for (int k = 0; k < 3; ++k) host.vparms().find(from)->env[0].set(k, 2.0 * k, hostsim::KeyShape::Linear);
  LWError copied = nullptr;
  eachAllocationFailing(
      "\"LWVParmFuncs 2\" copy", [&] { copied = vp.copy(made, from); },
      [&] {
        EXPECT_NE(copied, nullptr);
        EXPECT_TRUE(p->env[0].keys.empty());
      },
      [&] {
        EXPECT_EQ(copied, nullptr);
        EXPECT_EQ(p->env[0].keys.size(), 3u);
      });

  LWEnvelopeID envelope = nullptr;
  eachAllocationFailing(
      "\"Animation Envelopes\" create", [&] { envelope = env.create(nullptr, kLongName, LWET_FLOAT); },
      [&] { EXPECT_EQ(envelope, nullptr); },
      [&] {
        ASSERT_NE(envelope, nullptr);
        EXPECT_TRUE(host.checks().live(envelope, hostsim::Handle::Envelope));
      });
  LWEnvKeyframeID key = nullptr;
  eachAllocationFailing(
      "\"Animation Envelopes\" createKey", [&] { key = env.createKey(envelope, 1.0, 5.0); },
      [&] {
        EXPECT_EQ(key, nullptr);
        EXPECT_EQ(env.nextKey(envelope, nullptr), nullptr);
      },
      [&] {
        EXPECT_NE(key, nullptr);
        EXPECT_EQ(env.evaluate(envelope, 1.0), 5.0);
      });

  const std::size_t groups = host.vparms().root().children.size();
  LWChanGroupID madeGroup = nullptr;
  eachAllocationFailing(
      "\"Animation Envelopes\" createGroup", [&] { madeGroup = env.createGroup(nullptr, kLongName); },
      [&] {
        EXPECT_EQ(madeGroup, nullptr);
        EXPECT_EQ(host.vparms().root().children.size(), groups);
      },
      [&] {
        ASSERT_NE(madeGroup, nullptr);
        EXPECT_EQ(host.vparms().root().children.size(), groups + 1);
        EXPECT_TRUE(host.checks().live(madeGroup, hostsim::Handle::ChannelGroup));
      });
}

TEST_F(HostFailures, PanelsAndInstanceUpdates) {
  const LWXPanelFuncs &xp = *host.panels().funcs();
  InCallback scope;
  const std::size_t panels = host.panels().panels().size();
  LWXPanelID panel = nullptr;
  eachAllocationFailing(
      "\"LWXPanel\" create", [&] { panel = xp.create(LWXP_FORM, nullptr); },
      [&] {
        EXPECT_EQ(panel, nullptr);
        EXPECT_EQ(host.panels().panels().size(), panels);
      },
      [&] {
        ASSERT_NE(panel, nullptr);
        EXPECT_TRUE(host.checks().live(panel, hostsim::Handle::Panel));
      });

  int data = 0;
  eachAllocationFailing(
      "\"LWXPanel\" setData", [&] { xp.setData(panel, 7, &data); }, [&] { EXPECT_EQ(xp.getData(panel, 7), nullptr); },
      [&] { EXPECT_EQ(xp.getData(panel, 7), &data); });
  int32_t value = 42;
  eachAllocationFailing(
      "\"LWXPanel\" formSet", [&] { xp.formSet(panel, 9, &value); }, [&] { EXPECT_EQ(xp.formGet(panel, 9), nullptr); },
      [&] {
        const void *kept = xp.formGet(panel, 9);
        ASSERT_NE(kept, nullptr);
        EXPECT_EQ(*static_cast<const int32_t *>(kept), 42);
      });

  hostsim::HostNode *node = add("Jux Sqrt");
  ASSERT_TRUE(node);
  ASSERT_TRUE(host.panels().updates().empty());
  const LWInstUpdate update = host.panels().instanceUpdate();
  eachAllocationFailing(
      "\"Instance Update\" call", [&] { update(LWNODE_HCLASS, node->instance); },
      [&] { EXPECT_TRUE(host.panels().updates().empty()); },
      [&] { EXPECT_EQ(host.panels().updates().size(), 1u); });
}

TEST_F(HostFailures, LookUpsAndFileRequests) {
  InCallback scope;
  host.clearLookupLog();
  const GlobalFunc global = host.global();
  void *found = nullptr;
  eachAllocationFailing(
      "\"global\" lookup", [&] { found = global(LWNODEFUNCS_GLOBAL, GFUSE_TRANSIENT); },
      [&] { EXPECT_EQ(found, nullptr); },
      [&] {
        EXPECT_EQ(found, host.nodes().nodeFuncs());
        const std::vector<std::string> log = host.lookupLog();
        EXPECT_EQ(std::count(log.begin(), log.end(), LWNODEFUNCS_GLOBAL), 1);
      });

  // A requester that cannot open neither takes the user's answer nor
  // records the request.
  const std::string chosen = "/scenes/images/" + std::string(kLongName) + ".png";
  host.fileRequester().answer(chosen);
  char path[256] = "", base[256] = "", full[256] = "";
  LWFileReqLocal request{FREQ_LOAD, 0, "Image", "Images", path, base, full, 256, nullptr};
  int32_t rc = 0;
  eachAllocationFailing(
      "\"File Request 2\" call", [&] { rc = host.fileRequester().func()(LWFILEREQ_VERSION, &request); },
      [&] {
        EXPECT_NE(rc, 0);
        EXPECT_EQ(host.fileRequester().pending(), 1u);
        EXPECT_TRUE(host.fileRequester().requests().empty());
      },
      [&] {
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(request.result, 1);
        EXPECT_EQ(full, chosen);
        EXPECT_EQ(host.fileRequester().pending(), 0u);
        EXPECT_EQ(host.fileRequester().requests().size(), 1u);
      });
}

// A refusal the host has no memory to describe is counted all the same, and
// still fails the command.
TEST_F(HostFailures, ARefusalThatCannotBeDescribedStillCounts) {
  InCallback scope;
  int bogus = 0;
  long k = 0;
  for (; withAllocationFailing(k, [&] { host.nodes().nodeFuncs()->nodeName(reinterpret_cast<NodeID>(&bogus)); });
       ++k) {
    SCOPED_TRACE("allocation " + std::to_string(k) + " failing");
    EXPECT_EQ(host.checks().count(), 1u);
    EXPECT_NE(testsupport::thrownBy([&] { host.checks().requireNone(); }), "(no error)");
    EXPECT_EQ(host.checks().take().size(), 1u);
  }
  EXPECT_GT(k, 0);
  EXPECT_TRUE(testsupport::refusedOnce(host, {"\"NodeFuncs\" nodeName, the node: not a node"}));
}

// Every node saved and loaded, in both stream forms, with each allocation
// failing in turn: a save or load that met the failure fails (or the host
// recorded why), a save never hands back other bytes as a success, and the
// node is as it was.
TEST_F(HostFailures, SavesAndLoadsThatRunOutOfMemoryFail) {
  const std::vector<std::string> servers = net->serverNames();
  ASSERT_FALSE(servers.empty());
  for (const std::string &server : servers)
    for (int32_t mode : {LWIO_BINARY, LWIO_ASCII}) {
      SCOPED_TRACE(server + (mode == LWIO_ASCII ? ", text" : ", binary"));
      hostsim::HostNode *node = add(server);
      ASSERT_TRUE(node);
      const std::vector<uint8_t> block = save(node, mode);
      long failing = 0;
      // Runs what with allocation `failing` failing; whether it met it.
      // what tells whether its result is whole.
      auto outcome = [&](auto &&what) {
        std::string said = "done";
        bool whole = true;
        const bool failed = withAllocationFailing(failing, [&] {
          try {
            whole = what();
          } catch (const hostsim::Error &e) {
            said = e.what();
          } catch (const std::bad_alloc &) { // the host's own work, outside the module's call
            said = "out of memory";
          }
        });
        const bool recorded = !host.checks().take().empty();
        if (failed) {
          EXPECT_TRUE(said != "done" || recorded) << "allocation " << failing << " failed unseen";
          EXPECT_TRUE(whole || said != "done") << "allocation " << failing << " failed: other bytes, saved as a success";
        } else {
          EXPECT_EQ(said, "done");
          EXPECT_TRUE(whole);
        }
        return failed;
      };
      long saves = 0, loads = 0;
      while (outcome([&] {
        hostsim::SaveStream out(mode);
        net->save(node, out);
        return out.bytes() == block;
      }))
        saves = ++failing;
      failing = 0;
      while (outcome([&] {
        hostsim::LoadStream in(block, mode);
        net->load(node, in);
        return true;
      })) {
        loads = ++failing;
        ASSERT_TRUE(load(node, block, mode)); // as it was, for the next run
      }
      EXPECT_GT(saves, 0) << "a save made no allocation to fail";
      EXPECT_GT(loads, 0) << "a load made no allocation to fail";
      EXPECT_EQ(save(node, mode), block);
      net->remove(node);
    }
}

// What render threads call for every sample: inputs evaluated and tested,
// the output value set, rays, the backdrop, a blend.
TEST_F(HostFailures, TheCallsRenderThreadsMakeAllocateNothing) {
  hostsim::OutputValue two;
  two.type = CONN_SCALAR;
  two.v[0] = 2.0;
  hostsim::HostNode *node = net->addHostNode("Bare", {}, nullptr);
  hostsim::NodeInput *connected = node->addInput(CONN_COLOR, "Connected");
  hostsim::NodeInput *open = node->addInput(CONN_SCALAR, "Open");
  net->connect(net->addConstant(two), "Value", node, "Connected");
  LWNodalAccess na = hostsim::emptyWorldContext();
  hostsim::OutputValue out;
  out.type = CONN_COLOR;
  hostsim::CallbackScope scope(node, &na, &out);

  const LWNodeInputFuncs &inputs = *host.nodes().inputFuncs();
  const LWNodeOutputFuncs &outputs = *host.nodes().outputFuncs();
  const LWBackdropInfo &backdrop = *host.scene().backdropRecord();
  const LWNodeUtilityFuncs &utility = *host.utility().funcs();
  double colour[3] = {0, 0, 0}, scalar = 0, blended[3] = {0, 0, 0}, over[3] = {1, 0, 0};
  const double at[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  int32_t connectedNow = 0;
  EXPECT_EQ(allocationsOf([&] {
              inputs.evaluate(reinterpret_cast<NodeInputID>(connected), &na, colour);
              inputs.evaluate(reinterpret_cast<NodeInputID>(open), &na, &scalar);
              connectedNow = inputs.check(reinterpret_cast<NodeInputID>(connected));
              outputs.setValue(reinterpret_cast<NodeValue>(&out), colour);
              na.rayCast(at, up);
              na.rayTraceMode(at, up, colour, 1.0, RTMODE_REFLECTION);
              backdrop.backdrop(0.0, up, colour);
              for (int32_t mode = BLEND_NORMAL; mode <= BLEND_BLUE; ++mode) utility.blend(blended, over, colour, 0.5, mode);
            }),
            0);
  EXPECT_EQ(connectedNow, 1);
  EXPECT_EQ(out.v[0], 2.0);
  EXPECT_TRUE(out.set);
}

} // namespace

// A stand-in host with the module linked in, and helpers the suites share.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "hostsim/network.h"
#include "module/module.h"

namespace testsupport {

class HostFixture : public ::testing::Test {
protected:
  void SetUp() override {
    std::string error;
    module = hostsim::Module::fromDescriptor(descriptor(), error);
    ASSERT_TRUE(module) << error;
    net = std::make_unique<hostsim::Network>(host, *module);
  }
  void TearDown() override { net.reset(); }
  virtual const ModuleDescriptor *descriptor() { return &_mod_descrip; }

  hostsim::HostNode *add(const std::string &server) {
    std::string error;
    hostsim::HostNode *n = net->add(server, &error);
    EXPECT_TRUE(n) << error;
    return n;
  }
  std::vector<uint8_t> save(hostsim::HostNode *n, int32_t mode = LWIO_BINARY) {
    hostsim::SaveStream out(mode);
    std::string error;
    EXPECT_TRUE(net->save(n, out, &error)) << error;
    return out.bytes();
  }
  bool load(hostsim::HostNode *n, const std::vector<uint8_t> &bytes, int32_t mode = LWIO_BINARY,
            std::string *error = nullptr) {
    hostsim::LoadStream in(bytes, mode);
    return net->load(n, in, error);
  }
  hostsim::OutputValue eval(hostsim::HostNode *n, const std::string &output) {
    LWNodalAccess na = hostsim::emptyWorldContext();
    return net->evaluate(n, output, na);
  }
  // The node's panel, through its NodeInterface activation as the host opens it.
  hostsim::Panel *openPanel(hostsim::HostNode *n, int32_t *result = nullptr) {
    const hostsim::ServerInfo *s = module->find(LWNODE_ICLASS, n->serverName);
    if (!s || !s->activate) {
      ADD_FAILURE() << n->serverName << " has no panel";
      return nullptr;
    }
    LWInterface local{n->instance, nullptr, nullptr, nullptr};
    const int32_t rc = s->activate(LWNODE_IVERSION, host.global(), &local, module->serverData());
    if (result)
      *result = rc;
    else
      EXPECT_EQ(rc, AFUNC_OK);
    return hostsim::XPanelService::of(local.panel);
  }
  hostsim::PanelControl &control(hostsim::Panel *p, const std::string &label) {
    hostsim::PanelControl *c = p ? p->control(label) : nullptr;
    if (!c) throw std::runtime_error("no control " + label);
    return *c;
  }
  // Sets a variant parameter's static value as a panel edit would.
  void setParam(LWVParmID id, std::initializer_list<double> values) {
    hostsim::VParm *p = host.vparms().find(id);
    ASSERT_TRUE(p);
    int c = 0;
    for (double v : values) p->value[c++] = v;
  }

  hostsim::Host host;
  std::unique_ptr<hostsim::Module> module;
  std::unique_ptr<hostsim::Network> net;
};

template <class Instance>
Instance *instanceOf(hostsim::HostNode *n) {
  return static_cast<Instance *>(n->instance);
}

} // namespace testsupport

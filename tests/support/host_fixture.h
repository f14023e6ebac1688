// A stand-in host with the module linked in, and helpers the suites share.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "hostsim/network.h"
#include "module/module.h"
#include "tests/support/checked.h"
#include "tests/support/thrown.h"

namespace testsupport {


class HostFixture : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_NO_THROW(module = hostsim::Module::fromDescriptor(descriptor()));
    net = std::make_unique<hostsim::Network>(host, *module);
  }
  // Every panel a test opened must have had a hint array the host could read,
  // and the module must have called the host only as the host allows, to the
  // end (the nodes' destroy included).
  void TearDown() override {
    for (const auto &p : host.panels().panels())
      for (const std::string &e : p->hintErrors) ADD_FAILURE() << "malformed hint array: " << e;
    net.reset();
    expectNoViolations(host);
  }
  virtual const ModuleDescriptor *descriptor() { return &_mod_descrip; }

  hostsim::HostNode *add(const std::string &server) {
    try {
      return net->add(server);
    } catch (const hostsim::Error &e) {
      ADD_FAILURE() << e.what();
      return nullptr;
    }
  }
  std::vector<uint8_t> save(hostsim::HostNode *n, int32_t mode = LWIO_BINARY) {
    hostsim::SaveStream out(mode);
    EXPECT_NO_THROW(net->save(n, out));
    return out.bytes();
  }
  // Whether the node took the block; why not in error, when given.
  bool load(hostsim::HostNode *n, const std::vector<uint8_t> &bytes, int32_t mode = LWIO_BINARY,
            std::string *error = nullptr) {
    hostsim::LoadStream in(bytes, mode);
    try {
      net->load(n, in);
      return true;
    } catch (const hostsim::Error &e) {
      if (error) *error = e.what();
      return false;
    }
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
    const int32_t rc = module->activateInterface(*s, host.global(), &local);
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

  // A node's block holds its integer settings as 16 bits, then its
  // parameters in creation order (their channels, by name), each through the
  // host's own parameter save.
  void expectBlock(hostsim::HostNode *n, std::initializer_list<int16_t> ints, const std::vector<std::string> &channels) {
    hostsim::SaveStream expected;
    for (int16_t i : ints) expected.state()->writeI2(expected.state()->writeData, &i, 1);
    ASSERT_EQ(n->group->children.size(), 1u) << "one envelope group";
    std::vector<std::string> names;
    for (const hostsim::VParm *v : n->group->children[0]->channels) {
      names.push_back(v->channel);
      hostsim::saveVParm(*v, expected.state());
    }
    EXPECT_EQ(names, channels);
    EXPECT_EQ(save(n), expected.bytes());
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

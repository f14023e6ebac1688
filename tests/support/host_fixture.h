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

  // What a node's table made at creation, as the host recorded it: its look,
  // its envelope group with each channel (name, type code, default) in
  // creation order, and its inputs and outputs in order.
  struct Channel {
    std::string name;
    int32_t type;
    std::vector<double> def;
  };
  using Ports = std::vector<std::pair<std::string, ConnectionType>>;
  void expectShape(hostsim::HostNode *n, const std::string &envGroup, const std::vector<Channel> &channels,
                   const Ports &inputs, const Ports &outputs) {
    ASSERT_TRUE(n);
    EXPECT_EQ(n->previewType, 2);
    EXPECT_EQ(std::vector<int32_t>(n->color, n->color + 3), (std::vector<int32_t>{164, 50, 10}));
    ASSERT_EQ(n->group->children.size(), 1u);
    const hostsim::ChanGroup &g = *n->group->children[0];
    EXPECT_EQ(g.name, envGroup);
    ASSERT_EQ(g.channels.size(), channels.size());
    for (std::size_t i = 0; i < channels.size(); ++i) {
      const hostsim::VParm &v = *g.channels[i];
      EXPECT_EQ(v.channel, channels[i].name);
      EXPECT_EQ(v.type, channels[i].type) << channels[i].name;
      EXPECT_EQ(std::vector<double>(v.value, v.value + v.components), channels[i].def) << channels[i].name;
    }
    auto ports = [](const auto &list) {
      Ports r;
      for (const auto &p : list) r.emplace_back(p->name, p->type);
      return r;
    };
    EXPECT_EQ(ports(n->inputs), inputs);
    EXPECT_EQ(ports(n->outputs), outputs);
  }
  // The block a node with these integer settings and its channels as they
  // stand must save: the integers as 16 bits, then each parameter in creation
  // order, through the host's own parameter save.
  std::vector<uint8_t> expectedBlock(hostsim::HostNode *n, std::initializer_list<int16_t> ints,
                                     int32_t mode = LWIO_BINARY) {
    hostsim::SaveStream out(mode);
    for (int16_t i : ints) out.state()->writeI2(out.state()->writeData, &i, 1);
    for (const hostsim::VParm *v : n->group->children.at(0)->channels) hostsim::saveVParm(*v, out.state());
    return out.bytes();
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

// A stand-in host with the module linked in and a scene read from JSON text.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "hostsim/render/renderer.h"
#include "hostsim/scene/scene.h"
#include "tests/support/host_fixture.h"

namespace testsupport {

class SceneFixture : public HostFixture {
protected:
  void SetUp() override {
    HostFixture::SetUp();
    dir = std::filesystem::temp_directory_path() /
          ("juxs_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
           std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
  }
  void TearDown() override {
    renderer.reset();
    scene.reset();
    HostFixture::TearDown();
    std::filesystem::remove_all(dir);
  }
  hostsim::Scene &load(const std::string &json) {
    scene = hostsim::parseScene(host, *module, json, (dir / "scene.json").string());
    return *scene;
  }
  hostsim::Renderer &render() {
    renderer = std::make_unique<hostsim::Renderer>(*scene, host);
    return *renderer;
  }
  void writeFile(const std::string &name, const std::string &text) { std::ofstream(dir / name) << text; }

  std::filesystem::path dir;
  std::unique_ptr<hostsim::Scene> scene;
  std::unique_ptr<hostsim::Renderer> renderer;
};

} // namespace testsupport

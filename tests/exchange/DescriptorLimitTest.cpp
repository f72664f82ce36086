// A large project under a small descriptor limit: no instance may hold
// descriptors for its life (the two shared records are mapped, not kept
// open), or the host runs out of them and can no longer save. In a program of
// its own, since the limit holds for the whole process.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "EffectModule.h"
#include "host/HostRender.h"
#include "plugin/FxQuillaneInspection.h"
#include "tests/desktop/DesktopTestEnv.h"

using namespace quillane::test;

TEST(DescriptorLimitTest, TwoThousandInstancesOpenRenderAndSaveUnderALimitOf256) {
    constexpr std::size_t kInstances = 2000;
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    limit.rlim_cur = 256;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);

    DesktopSandbox sandbox;
    std::string error;
    auto renderer = host::Renderer::create(&error);
    ASSERT_TRUE(renderer) << error;
    auto host = host::Host::withModule(linkedEffect());
    for (std::size_t i = 0; i < kInstances; ++i) ASSERT_TRUE(host->newInstance(host::kAllServices, &error)) << error;
    const std::string first = sandbox.dir.file("first.project");
    ASSERT_TRUE(host->saveProject(first, &error)) << error;

    ASSERT_TRUE(host->openProject(first, &error)) << error;
    ASSERT_EQ(host->instances().size(), kInstances);
    host::Frame in;
    in.width = 2, in.height = 1;
    in.bytes = {10, 20, 30, 255, 40, 50, 60, 255};
    for (const auto& instance : host->instances()) {
        ASSERT_TRUE(instance->inspection()->exchangeAvailable()) << "instance " << instance->inspection()->instanceId();
        host::Frame out;
        ASSERT_TRUE(renderer->render(*instance, in, &out, &error)) << error;
        EXPECT_EQ(out.bytes, in.bytes);
    }
    ASSERT_TRUE(host->saveProject(sandbox.dir.file("second.project"), &error)) << error;
    EXPECT_EQ(readFile(sandbox.dir.file("second.project")), readFile(first));
}

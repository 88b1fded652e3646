#include "line/image_plan.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "engine/transfer.h"

namespace {

class ImagePlanTest : public testing::Test {
 protected:
  ImagePlanTest() {
    char pattern[] = "/tmp/velmora-plan-XXXXXX";
    dir_ = mkdtemp(pattern);
  }
  ~ImagePlanTest() override { std::filesystem::remove_all(dir_); }
  std::string File(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ + "/" + name, std::ios::binary) << bytes;
    return dir_ + "/" + name;
  }
  std::string dir_;
};

TEST_F(ImagePlanTest, ImagesInSlotOrderWithTheirHeaderCrc) {
  std::string app(600, 'a');
  app[599] = 'z';
  const std::string appPath = File("app.bin", app), boot = File("boot.bin", "QVRX boot");
  ImagePlan plan;
  std::string error;
  ASSERT_TRUE(PlanImages({"-app", appPath, "-baud", "230400", "-boot", boot}, &plan, &error))
      << error;
  EXPECT_EQ(plan.baud, 230400);
  ASSERT_EQ(plan.images.size(), 2u);
  EXPECT_EQ(plan.images[0].slot, 0);
  EXPECT_EQ(plan.images[0].path, boot);
  EXPECT_EQ(plan.images[0].length, 9);
  const auto* b = reinterpret_cast<const uint8_t*>("QVRX boot");
  EXPECT_EQ(plan.images[0].crc, ImageCrc(b, b + 8));
  EXPECT_EQ(plan.images[1].slot, 2);
  // The App image's CRC leaves out its first 512 bytes.
  const auto* a = reinterpret_cast<const uint8_t*>(app.data());
  EXPECT_EQ(plan.images[1].crc, ImageCrc(a + 512, a + 599));
  EXPECT_EQ(plan.images[1].data[599], 'z');
}

TEST_F(ImagePlanTest, FaultsUseTheProgrammersTexts) {
  const std::string app = File("app.bin", "x");
  mkdir((dir_ + "/dir").c_str(), 0700);
  struct Case {
    std::vector<std::string> words;
    std::string error;
  };
  const Case cases[] = {
      {{"-app"}, "App code was missing!\n"},
      {{"-app", "-boot", app}, "App code was missing!\n"},
      {{"-app", app, "-baud", "14400"}, "Baud rate \"14400\" error!\n"},
      {{"-app", app, "-baud"}, "-baud needs a rate\n"},
      {{"-uart", "COM3", "-app", app},
       "-uart is not given here: the ports come from --ports or --all-usb\n"},
      {{"-app", app, "-h"}, "unknown \"-h\" command!\n"},
      {{"app.bin"}, "unknown \"app.bin\" command!\n"},
      {{"-baud", "115200"}, "no image given\n"},
      {{"-app", dir_ + "/none.bin", "-almanac", dir_ + "/dir", "-usr", "/dev/zero", "-boot", app},
       "File \"" + dir_ + "/dir\" not found!\nFile \"" + dir_ +
           "/none.bin\" not found!\nFile \"/dev/zero\" can not be read!\n"},
  };
  for (const Case& c : cases) {
    ImagePlan plan;
    std::string error;
    EXPECT_FALSE(PlanImages(c.words, &plan, &error)) << c.error;
    EXPECT_EQ(error, c.error);
  }
}

}  // namespace

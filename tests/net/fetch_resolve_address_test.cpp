#include "net/resolve_address.h"

#include <gtest/gtest.h>

namespace vexel::net {
namespace {

constexpr const char* kBase = "http://127.0.0.1:8080/comic/1/2.html?p=3";

TEST(ResolveAddressTest, RelativeReferencesTakeTheBasesDirectory) {
  EXPECT_EQ(ResolveAddress(kBase, "pics/ch2/1.png"),
            "http://127.0.0.1:8080/comic/1/pics/ch2/1.png");
  EXPECT_EQ(ResolveAddress(kBase, "/pics/1.png"), "http://127.0.0.1:8080/pics/1.png");
  EXPECT_EQ(ResolveAddress(kBase, "../../x/./1.png"), "http://127.0.0.1:8080/x/1.png");
  EXPECT_EQ(ResolveAddress(kBase, "//img.example/1.png"), "http://img.example/1.png");
  EXPECT_EQ(ResolveAddress(kBase, "1.png?v=2"), "http://127.0.0.1:8080/comic/1/1.png?v=2");
}

TEST(ResolveAddressTest, AbsoluteReferencesStandAlone) {
  EXPECT_EQ(ResolveAddress(kBase, "https://img.example/a/1.jpg"), "https://img.example/a/1.jpg");
  EXPECT_EQ(ResolveAddress("", "http://img.example/a/1.jpg"), "http://img.example/a/1.jpg");
  EXPECT_EQ(ResolveAddress("not a url", "http://img.example/a/1.jpg"),
            "http://img.example/a/1.jpg");
}

TEST(ResolveAddressTest, SpacesAndNonAsciiArePercentEncodedOnce) {
  EXPECT_EQ(ResolveAddress(kBase, "图 1/1.jpg"),
            "http://127.0.0.1:8080/comic/1/%e5%9b%be%201/1.jpg");
  EXPECT_EQ(ResolveAddress(kBase, "a%20b/1.jpg"), "http://127.0.0.1:8080/comic/1/a%20b/1.jpg");
  EXPECT_EQ(ResolveAddress("", "http://img.example/中/1.jpg"),
            "http://img.example/%e4%b8%ad/1.jpg");
}

TEST(ResolveAddressTest, SurroundingSpaceAndControlCharactersAreCleanedAsABrowserDoes) {
  EXPECT_EQ(ResolveAddress(kBase, " \tpics/1.jpg \n"), "http://127.0.0.1:8080/comic/1/pics/1.jpg");
  EXPECT_EQ(ResolveAddress(kBase, "pi\r\ncs/\t1.jpg"), "http://127.0.0.1:8080/comic/1/pics/1.jpg");
  EXPECT_EQ(ResolveAddress(kBase, "pics/\x1b]0;x\x07/1.jpg"),
            "http://127.0.0.1:8080/comic/1/pics/%1B]0;x%07/1.jpg");
}

TEST(ResolveAddressTest, NothingWithoutAUsableBaseOrScheme) {
  EXPECT_FALSE(ResolveAddress("", "pics/1.png"));
  EXPECT_FALSE(ResolveAddress(kBase, "javascript:show(1).png"));
}

}  // namespace
}  // namespace vexel::net

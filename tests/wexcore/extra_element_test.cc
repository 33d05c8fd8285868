// The element a message carries, as the wire log writes it.
#include "wexcore/extra_element.h"

#include <gtest/gtest.h>

namespace wexcore {
namespace {

TEST(ExtraElementTest, XmlKeepsTheOrderAndEscapesValues) {
    EXPECT_EQ(ElementXml(ExtraElement()), "");
    ExtraElement game{"game", "urn:wex:game:1", {{"round", "3"}, {"phase", "over"}}};
    EXPECT_EQ(ElementXml(game), "<game xmlns=\"urn:wex:game:1\" round=\"3\" phase=\"over\"/>");
    ExtraElement odd{"x", "", {{"v", "a\"<&>'b"}}};
    EXPECT_EQ(ElementXml(odd), "<x v=\"a&quot;&lt;&amp;&gt;&apos;b\"/>");
}

}  // namespace
}  // namespace wexcore

#pragma once
// XML response documents of the transformation messages, one document per
// message, laid out byte for byte as TinyXML's printer prints them (tab
// indent, "\n" line breaks, TinyXML's encoding of text values) and followed
// by "*". They are written directly as text rather than built as a tree.
//
// Every document has the root "Response" with the attributes Version, User
// and Password. An executed request gets the element
// "RTCMTransformationMesssage.<number>" with the message's values; any
// other request one "Error" element carrying the result text.

#include "rtcm/ASCIIRendering.h"
#include "rtcm/MessageData.h"

#include <span>
#include <string>

namespace tarvik {

std::string xml1021(const HelmertMessageData& record, const RenderRequest& request);
std::string xml1023(const ResidualGridMessageData& record, std::span<const GridResidual> residuals,
                    const RenderRequest& request);
std::string xml1025(const ProjectionMessageData& record, const RenderRequest& request);

// Attribute value forms: p decimals without blanks, and the six-decimal
// "%f" form used for the double attributes.
std::string XMLFixed(double value, int decimals);
std::string XMLDouble(double value);

}  // namespace tarvik

#pragma once
// Readable text forms of the transformation messages: one value per line
// in the order of the message's fields, each line ending in "\n", the text
// ending in "*".
//
// A request that was not executed is answered, depending on the
// configuration's error handling, either with the single line
// "Error: <result text>" or with the normal text carrying the invalid area.

#include "rtcm/MessageData.h"

#include <span>
#include <string>
#include <string_view>

namespace tarvik {

// ErrorHandling values of the general settings.
constexpr int kErrorHandlingErrorMessages = 1;  // ERRORMESSAGES
constexpr int kErrorHandlingInvalidArea = 2;    // INVALIDAREA

// What the renderings need of a request and its configuration.
struct RenderRequest {
  int executed = 0;            // the request's executed flag
  std::string_view errorText;  // text of the request's result code (error form)
  int errorHandling = kErrorHandlingErrorMessages;
  int planCode = 0;  // 1 = PlanType SAPEN_DB: 1021 carries the Helmert parameters
  // Attributes of the XML root element (always empty in practice).
  std::string_view Version, User, Password;
};

// 27 lines.
std::string renderASCII1021(const HelmertMessageData& record, const RenderRequest& request);
// 64 lines; always 16 residual triples (missing nodes as zeros).
std::string renderASCII1023(const ResidualGridMessageData& record, std::span<const GridResidual> residuals,
                            const RenderRequest& request);
// 8 lines: "1025", SystemIdentificationNumber, LatitudeOfNaturalOrigin,
// LongitudeOfNaturalOrigin, ScaleFactorAtNaturalOrigin, ProjectionType,
// FalseEasting, FalseNorthing. 1025 has no area: with INVALIDAREA it is
// rendered from its record.
std::string renderASCII1025(const ProjectionMessageData& record, const RenderRequest& request);

// The error form: "Error: <text of the result code>\n*".
std::string renderASCIIError(std::string_view errorText);

}  // namespace tarvik

#include "steps/downsamplestep.h"

#include <string>

#include "formats/classicsource.h"
#include "steps/statuslog.h"

namespace lumivane {

namespace {

// A classic input, read by its reader step as its own layout, read as rows.
void ReadClassicAsRows(JobContext& context) {
  if (context.InputRows) return;
  ClassicLayout layout;
  layout.Radiance = context.Layout == InputLayout::Radiance;
  layout.Width = context.ImageWidth;
  layout.Height = context.ImageHeight;
  layout.DataStart = context.InputFile.Position();
  layout.IntelOrder = context.SourceIntelOrder;
  layout.BottomUp = context.InputRowsBottomUp;
  context.InputRows = OpenClassicSource(context.InputFile, layout);
  context.Layout = InputLayout::Rows;
}

}  // namespace

JobStep ReadDownsampled(JobStep reader, SizeRequest request) {
  return [reader = std::move(reader), request](Session& session) {
    if (!reader(session)) return false;
    JobContext& context = session.Context;
    const ImageSize image{context.ImageWidth, context.ImageHeight};
    const ImageSize size =
        request.Scale > 0.0 ? Scaled(image, request.Scale) : FitInside(image, request.Box);
    if (size == image) return true;
    ReadClassicAsRows(context);
    context.InputRows = DownsampleRows(std::move(context.InputRows), size);
    context.ImageWidth = size.Width;
    context.ImageHeight = size.Height;
    LogLine(session, "Made smaller to " + std::to_string(size.Width) + " x " +
                         std::to_string(size.Height) + " pixels by averaging");
    return true;
  };
}

JobStep ReadAsRows(JobStep reader) {
  return [reader = std::move(reader)](Session& session) {
    if (!reader(session)) return false;
    ReadClassicAsRows(session.Context);
    return true;
  };
}

}  // namespace lumivane

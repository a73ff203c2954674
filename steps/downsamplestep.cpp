#include "steps/downsamplestep.h"

#include <string>

#include "formats/classicsource.h"
#include "steps/statuslog.h"

namespace lumivane {

JobStep ReadDownsampled(JobStep reader, SizeRequest request) {
  return [reader = std::move(reader), request](Session& session) {
    if (!reader(session)) return false;
    JobContext& context = session.Context;
    const ImageSize image{context.ImageWidth, context.ImageHeight};
    const ImageSize size =
        request.Scale > 0.0 ? Scaled(image, request.Scale) : FitInside(image, request.Box);
    if (size == image) return true;
    std::shared_ptr<ImageRowSource> rows = context.InputRows;
    if (!rows) {
      ClassicLayout layout;
      layout.Radiance = context.Layout == InputLayout::Radiance;
      layout.Width = image.Width;
      layout.Height = image.Height;
      layout.DataStart = context.InputFile.Position();
      layout.IntelOrder = context.SourceIntelOrder;
      layout.BottomUp = context.InputRowsBottomUp;
      rows = OpenClassicSource(context.InputFile, layout);
    }
    context.InputRows = DownsampleRows(std::move(rows), size);
    context.Layout = InputLayout::Rows;
    context.ImageWidth = size.Width;
    context.ImageHeight = size.Height;
    LogLine(session, "Made smaller to " + std::to_string(size.Width) + " x " +
                         std::to_string(size.Height) + " pixels by averaging");
    return true;
  };
}

}  // namespace lumivane

#include "capture/V4l2Device.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

class Fd {
public:
    explicit Fd(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC)) {}
    ~Fd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

int xioctl(int fd, unsigned long req, void* arg) {
    int r;
    do {
        r = ::ioctl(fd, req, arg);
    } while (r < 0 && errno == EINTR);
    return r;
}

std::string cstr(const uint8_t* p, size_t n) {
    return std::string(reinterpret_cast<const char*>(p),
                       strnlen(reinterpret_cast<const char*>(p), n));
}

} // namespace

std::string FfmpegNameForFourcc(uint32_t fourcc) {
    switch (fourcc) {
    case V4L2_PIX_FMT_YUYV:
        return "yuyv422";
    case V4L2_PIX_FMT_UYVY:
        return "uyvy422";
    case V4L2_PIX_FMT_YUV420:
        return "yuv420p";
    case V4L2_PIX_FMT_NV12:
        return "nv12";
    case V4L2_PIX_FMT_RGB24:
        return "rgb24";
    case V4L2_PIX_FMT_BGR24:
        return "bgr24";
    case V4L2_PIX_FMT_GREY:
        return "gray";
    case V4L2_PIX_FMT_MJPEG:
        return "mjpeg";
    case V4L2_PIX_FMT_JPEG:
        return "mjpeg";
    case V4L2_PIX_FMT_H264:
        return "h264";
    default:
        return {};
    }
}

std::vector<V4l2Format> ListV4l2Formats(const std::string& device) {
    std::vector<V4l2Format> out;
    Fd fd(device);
    if (fd.get() < 0)
        return out;
    for (uint32_t i = 0;; ++i) {
        v4l2_fmtdesc desc{};
        desc.index = i;
        desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (xioctl(fd.get(), VIDIOC_ENUM_FMT, &desc) < 0)
            break;
        std::string name = FfmpegNameForFourcc(desc.pixelformat);
        if (name.empty())
            continue;
        for (uint32_t j = 0;; ++j) {
            v4l2_frmsizeenum size{};
            size.index = j;
            size.pixel_format = desc.pixelformat;
            if (xioctl(fd.get(), VIDIOC_ENUM_FRAMESIZES, &size) < 0)
                break;
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                out.push_back({static_cast<int>(size.discrete.width),
                               static_cast<int>(size.discrete.height), name});
                continue;
            }
            // A continuous or stepwise range: offer the usual sizes that fall inside it.
            static const std::pair<int, int> usual[] = {{160, 120}, {320, 240},  {640, 480},
                                                        {800, 600}, {1280, 720}, {1920, 1080}};
            for (auto [w, h] : usual)
                if (w >= static_cast<int>(size.stepwise.min_width) &&
                    w <= static_cast<int>(size.stepwise.max_width) &&
                    h >= static_cast<int>(size.stepwise.min_height) &&
                    h <= static_cast<int>(size.stepwise.max_height))
                    out.push_back({w, h, name});
            break;
        }
    }
    return out;
}

std::vector<V4l2Control> ListV4l2Controls(const std::string& device) {
    std::vector<V4l2Control> out;
    Fd fd(device);
    if (fd.get() < 0)
        return out;
    v4l2_queryctrl q{};
    q.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    while (xioctl(fd.get(), VIDIOC_QUERYCTRL, &q) == 0) {
        uint32_t id = q.id;
        if (!(q.flags & (V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_READ_ONLY)) &&
            q.type != V4L2_CTRL_TYPE_CTRL_CLASS) {
            V4l2Control c;
            c.id = id;
            c.name = cstr(q.name, sizeof q.name);
            c.minimum = q.minimum;
            c.maximum = q.maximum;
            c.step = q.step > 0 ? q.step : 1;
            c.defaultValue = q.default_value;
            bool known = true;
            switch (q.type) {
            case V4L2_CTRL_TYPE_INTEGER:
                c.kind = V4l2Control::Kind::Integer;
                break;
            case V4L2_CTRL_TYPE_BOOLEAN:
                c.kind = V4l2Control::Kind::Boolean;
                break;
            case V4L2_CTRL_TYPE_BUTTON:
                c.kind = V4l2Control::Kind::Button;
                break;
            case V4L2_CTRL_TYPE_MENU:
                c.kind = V4l2Control::Kind::Menu;
                for (int32_t k = q.minimum; k <= q.maximum; ++k) {
                    v4l2_querymenu m{};
                    m.id = id;
                    m.index = static_cast<uint32_t>(k);
                    if (xioctl(fd.get(), VIDIOC_QUERYMENU, &m) == 0)
                        c.menu.emplace_back(k, cstr(m.name, sizeof m.name));
                }
                break;
            default:
                known = false;
            }
            if (known) {
                v4l2_control cur{};
                cur.id = id;
                c.value = xioctl(fd.get(), VIDIOC_G_CTRL, &cur) == 0 ? cur.value : c.defaultValue;
                out.push_back(std::move(c));
            }
        }
        q = {};
        q.id = id | V4L2_CTRL_FLAG_NEXT_CTRL;
    }
    return out;
}

bool SetV4l2Control(const std::string& device, uint32_t id, int32_t value) {
    Fd fd(device);
    if (fd.get() < 0)
        return false;
    v4l2_control c{};
    c.id = id;
    c.value = value;
    return xioctl(fd.get(), VIDIOC_S_CTRL, &c) == 0;
}

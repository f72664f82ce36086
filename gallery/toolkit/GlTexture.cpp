#include "gallery/toolkit/GlTexture.h"

namespace nanogui {

void GlTexture::reset(GLuint id) {
    if (mId != 0 && mId != id) glDeleteTextures(1, &mId);
    mId = id;
}

GlTexture GlTexture::create(int width, int height, GLint internalFormat, GLenum format,
                            GLenum type, const void* pixels) {
    GLuint id = 0;
    glGenTextures(1, &id);
    GlTexture texture(id);
    glBindTexture(GL_TEXTURE_2D, id);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, internalFormat, width, height, 0, format, type, pixels);
    glBindTexture(GL_TEXTURE_2D, 0);
    return texture;
}

}  // namespace nanogui

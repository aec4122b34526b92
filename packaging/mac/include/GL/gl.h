/* The few OpenGL names the plug-in draws with, for the macOS build, which has no Apple SDK to take them from. */
#ifndef SKORVALE_MAC_GL_H
#define SKORVALE_MAC_GL_H

/* The values and prototypes are OpenGL's own (the OpenGL 1.1 core), which macOS's OpenGL.framework
   exports; packaging/mac/OpenGL.tbd lists the same four functions for the linker. */
#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned int GLenum;
typedef float GLfloat;

#define GL_LINES 0x0001
#define GL_QUADS 0x0007

void glBegin(GLenum mode);
void glEnd(void);
void glVertex2f(GLfloat x, GLfloat y);
void glColor4f(GLfloat red, GLfloat green, GLfloat blue, GLfloat alpha);

#ifdef __cplusplus
}
#endif

#endif

// SPDX-License-Identifier: GPL-3.0-or-later

/* Preloaded into a program under test: notes the moment its first picture reaches the X server.
 * Every Qt program on xcb hands its painted backing store over with one of these calls, so the
 * same point is measured for any program, ours or the reference. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

static atomic_int noted;

static void note(void)
{
    if (atomic_exchange(&noted, 1))
        return;
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const char* path = getenv("FIRST_FRAME_FILE");
    if (!path)
        return;
    char tmp[4096];
    snprintf(tmp, sizeof tmp, "%s.tmp", path);
    FILE* f = fopen(tmp, "w");
    if (!f)
        return;
    fprintf(f, "%lld\n", (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec);
    fclose(f);
    rename(tmp, path);
}

#define FORWARD(ret, name, params, args)                                                                               \
    ret name params                                                                                                    \
    {                                                                                                                  \
        static ret(*real) params;                                                                                      \
        if (!real)                                                                                                     \
            real = (ret(*) params)dlsym(RTLD_NEXT, #name);                                                             \
        note();                                                                                                        \
        return real args;                                                                                              \
    }

FORWARD(xcb_void_cookie_t, xcb_put_image,
        (xcb_connection_t * c, uint8_t format, xcb_drawable_t drawable, xcb_gcontext_t gc, uint16_t width,
         uint16_t height, int16_t dst_x, int16_t dst_y, uint8_t left_pad, uint8_t depth, uint32_t data_len,
         const uint8_t* data),
        (c, format, drawable, gc, width, height, dst_x, dst_y, left_pad, depth, data_len, data))

FORWARD(xcb_void_cookie_t, xcb_shm_put_image,
        (xcb_connection_t * c, xcb_drawable_t drawable, xcb_gcontext_t gc, uint16_t total_width, uint16_t total_height,
         uint16_t src_x, uint16_t src_y, uint16_t src_width, uint16_t src_height, int16_t dst_x, int16_t dst_y,
         uint8_t depth, uint8_t format, uint8_t send_event, xcb_shm_seg_t shmseg, uint32_t offset),
        (c, drawable, gc, total_width, total_height, src_x, src_y, src_width, src_height, dst_x, dst_y, depth, format,
         send_event, shmseg, offset))

FORWARD(xcb_void_cookie_t, xcb_copy_area,
        (xcb_connection_t * c, xcb_drawable_t src, xcb_drawable_t dst, xcb_gcontext_t gc, int16_t src_x, int16_t src_y,
         int16_t dst_x, int16_t dst_y, uint16_t width, uint16_t height),
        (c, src, dst, gc, src_x, src_y, dst_x, dst_y, width, height))

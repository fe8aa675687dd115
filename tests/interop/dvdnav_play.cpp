// Writes the blocks libdvdnav plays of one angle of one title of a DVD-Video folder, navigation
// packs included, in the order it plays them: what a player reads of that angle.
// Usage: dvdnav_play DISC TITLE ANGLE OUT
#include <dvdnav/dvdnav.h>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: dvdnav_play DISC TITLE ANGLE OUT\n");
        return 2;
    }
    const int32_t title = atoi(argv[2]), angle = atoi(argv[3]);
    dvdnav_t* nav = nullptr;
    if (dvdnav_open(&nav, argv[1]) != DVDNAV_STATUS_OK) {
        fprintf(stderr, "dvdnav_open failed\n");
        return 1;
    }
    dvdnav_set_readahead_flag(nav, 0);
    if (dvdnav_title_play(nav, title) != DVDNAV_STATUS_OK) {
        fprintf(stderr, "dvdnav_title_play: %s\n", dvdnav_err_to_string(nav));
        return 1;
    }
    FILE* out = fopen(argv[4], "wb");
    if (out == nullptr) return 1;
    uint8_t block[DVD_VIDEO_LB_LEN];
    int angleSet = 0, blocks = 0, code = 0;
    for (int steps = 0; steps < 1000000; ++steps) {
        int event = 0, length = 0;
        if (dvdnav_get_next_block(nav, block, &event, &length) != DVDNAV_STATUS_OK) {
            fprintf(stderr, "dvdnav_get_next_block: %s\n", dvdnav_err_to_string(nav));
            code = 1;
            break;
        }
        if (event == DVDNAV_STOP) break;
        if (event == DVDNAV_STILL_FRAME) dvdnav_still_skip(nav);
        if (event == DVDNAV_WAIT) dvdnav_wait_skip(nav);
        if (event == DVDNAV_CELL_CHANGE || event == DVDNAV_VTS_CHANGE) {
            int32_t now = 0, part = 0;
            if (dvdnav_current_title_info(nav, &now, &part) != DVDNAV_STATUS_OK || now != title)
                break;  // the title has ended
            if (!angleSet) {
                if (dvdnav_angle_change(nav, angle) != DVDNAV_STATUS_OK) {
                    fprintf(stderr, "dvdnav_angle_change: %s\n", dvdnav_err_to_string(nav));
                    code = 1;
                    break;
                }
                angleSet = 1;
            }
        }
        if (event == DVDNAV_BLOCK_OK || event == DVDNAV_NAV_PACKET) {
            fwrite(block, 1, (size_t)length, out);
            ++blocks;
        }
    }
    fclose(out);
    dvdnav_close(nav);
    fprintf(stderr, "%d blocks\n", blocks);
    return code;
}

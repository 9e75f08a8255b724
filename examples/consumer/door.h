/* The door lamp of a machine: the lamp (module GPIO index 1) is lit while the door switch
   (index 3, pulled up: high while the door is open) says the door is open. */
#ifndef DOOR_H
#define DOOR_H

#ifdef __cplusplus
extern "C" {
#endif

/* Makes the lamp an output, dark. 1 when the module took it. */
int door_setup(void);
/* Reads the switch and sets the lamp to match: 1 when the door is open, 0 when closed. */
int door_update(void);

#ifdef __cplusplus
}
#endif

#endif
